#include "spider/spider_gate.h"

namespace zibu {

SpiderGate SpiderGateFor(int learnedWords) {
  if (learnedWords < 100) return SpiderGate::Refuse;
  if (learnedWords <= 999) return SpiderGate::Ask;
  return SpiderGate::Open;
}

}  // namespace zibu
