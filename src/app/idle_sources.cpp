#include "app/idle_sources.h"

#include "app/x11_idle.h"

namespace zibu {

std::unique_ptr<X11ScreenSaverIdleSource> X11ScreenSaverIdleSource::Open() {
  if (!X11IdleMs()) return nullptr;
  return std::make_unique<X11ScreenSaverIdleSource>();
}

uint32_t X11ScreenSaverIdleSource::IdleMs() const {
  // A display that stops answering counts as no input since.
  return X11IdleMs().value_or(0);
}

}  // namespace zibu
