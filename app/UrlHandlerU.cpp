#include "app/UrlHandlerU.h"

#include "classlib/SysUtils.h"
#include "tasks/Utils.h"
#include "toolkit/RichText.h"
#include "unicode/UniSystem.h"

namespace {

struct TLinkTexts {
  const char* Prefix = "kvplug?";
  const char* OpenUrl = "url";
  const char* SendMail = "mail";
  const wchar_t* MailSubject = L"SampleMorph";
};
constexpr TLinkTexts Texts;

}  // namespace

TUrlHandler* UrlHandler = nullptr;

TUrlHandler::TUrlHandler() {
  SetGlobalLinkHandler([this](TObject* Sender, const AnsiString& Href) { HandleLink(Sender, Href); });
}

TUrlHandler::~TUrlHandler() { SetGlobalLinkHandler(nullptr); }

void TUrlHandler::HandleLink(TObject*, const AnsiString& Href) {
  // The prefix without regard to letter case, then the command up to the first ":" (exactly as
  // written) and the argument after it.
  const AnsiString prefix = Texts.Prefix;
  if (!SameText(Href.substr(0, prefix.size()), prefix)) return;
  const size_t colon = Href.find(':', prefix.size());
  if (colon == AnsiString::npos) return;
  const AnsiString command = Href.substr(prefix.size(), colon - prefix.size());
  const WideString argument = Utf8ToWide(Href.substr(colon + 1));
  if (command == Texts.OpenUrl)
    TUtils::OpenUrl(argument);
  else if (command == Texts.SendMail && !argument.empty())
    TUtils::SendMail(argument, Texts.MailSubject);
}

void UrlHandlerInitialize() {
  if (!UrlHandler) UrlHandler = new TUrlHandler();
}

void UrlHandlerFinalize() {
  delete UrlHandler;
  UrlHandler = nullptr;
}
