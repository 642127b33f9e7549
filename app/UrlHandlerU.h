// The link commands of the program's rich texts: an href "kvplug?<command>:<argument>" names a
// command and its argument. The one global handler takes every link click of a rich text that has
// no click handler of its own and carries out "url" (open a web address) and "mail" (write a mail
// to an address); anything else is ignored.
#pragma once
#include "classlib/Classes.h"

class TUrlHandler : public TObject {
 public:
  // Becomes the process-wide link handler of rich texts. Threads: user interface.
  TUrlHandler();
  // Leaves no link handler behind. Threads: user interface.
  ~TUrlHandler() override;
  TUrlHandler(const TUrlHandler&) = delete;
  TUrlHandler& operator=(const TUrlHandler&) = delete;
  const char* ClassName() const override { return "TUrlHandler"; }

  // Carries out the command of Href (UTF-8); Sender is the rich text whose link was clicked.
  // "url" returns at once (the address is opened on a thread of its own).
  // Threads: user interface.
  void HandleLink(TObject* Sender, const AnsiString& Href);
};

extern TUrlHandler* UrlHandler;

// Start-up (before the application initialises) and end of the unit: the global UrlHandler.
void UrlHandlerInitialize();
void UrlHandlerFinalize();
