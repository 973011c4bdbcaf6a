// Message boxes and the default browser, behind one seam so tests can play the user.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace zibu {

// Information box with an OK button. Any box first hides the progress splash, which stays on
// top of every window and would cover it.
void ShowMessage(const std::string& text);
// Yes/No question; true on Yes.
bool AskYesNo(const std::string& text);
// File choosers for reading and for writing a file: its name as the file system spells it, or
// empty when the user cancels. `filter` is the toolkit's, e.g. "OPML files (*.opml *.xml)".
std::string ChooseFileToOpen(const std::string& caption, const std::string& filter);
std::string ChooseFileToSave(const std::string& caption, const std::string& filter,
                             const std::string& suggested);
// Opens an address in the user's default browser; when no browser takes it, says so in a box.
void OpenUrl(const std::string& url);
// The box OpenUrl shows when no browser took the address.
std::string NoBrowserMessage(const std::string& url);

// A test's stand-in for the user: every member that is set replaces the real dialog or browser.
struct DialogScript {
  std::function<void(const std::string&)> onMessage;
  std::function<bool(const std::string&)> onQuestion;
  std::function<void(const std::string&)> onOpenUrl;
  // Answers a file chooser, given its caption.
  std::function<std::string(const std::string&)> onChooseFile;
};
void SetDialogScript(DialogScript script);
void ClearDialogScript();
// Stands in for the desktop's browser launch only, so OpenUrl's own reaction still runs; returns
// whether a browser took the address. Null: the desktop's launch.
void SetBrowserLaunch(std::function<bool(const std::string&)> launch);

}  // namespace zibu
