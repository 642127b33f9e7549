// The link commands: which hrefs open an address or a mail (through a recording stand-in of the
// shell call) and which do nothing, and the handler standing in for every rich text without a
// click handler of its own.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ShellRecorder.h"
#include "app/UrlHandlerU.h"
#include "tasks/Utils.h"
#include "toolkit/RichText.h"

TEST(UrlHandler, CommandFormsAsATable) {
  struct Case {
    const char* Href;
    const char* Call;  // empty: nothing is opened
  } cases[] = {
      {"kvplug?url:https://example.org/a?b=1", "open|https://example.org/a?b=1"},
      {"KVPLUG?url:https://example.org/", "open|https://example.org/"},  // the prefix ignores case
      {"KvPlug?url:http://x/y:z", "open|http://x/y:z"},                   // the argument keeps its colons
      {"kvplug?url:https://例子.测试/页", "open|https://例子.测试/页"},   // UTF-8 arrives as UTF-16
      {"kvplug?mail:someone@example.org", "Open|mailto:someone@example.org?subject=SampleMorph"},
      {"kvplug?URL:https://example.org/", ""},  // the command does not ignore case
      {"kvplug?Mail:someone@example.org", ""},
      {"kvplug?mail:", ""},                     // no address
      {"kvplug?url", ""},                       // no ":" after the command
      {"kvplug?", ""},
      {"kvplug", ""},
      {"", ""},
      {"https://example.org/", ""},  // a plain address, without the prefix
      {"kvplug?open:https://example.org/", ""},
      {"x kvplug?url:https://example.org/", ""},
  };
  TUrlHandler handler;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Href);
    TShellRecorder shell;
    handler.HandleLink(nullptr, c.Href);
    const auto calls = shell.Wait(*c.Call ? 10000 : 300);
    if (*c.Call) {
      ASSERT_EQ(calls.size(), 1u);
      EXPECT_EQ(calls[0], c.Call);
    } else {
      EXPECT_TRUE(calls.empty()) << calls[0];
    }
  }
}

TEST(UrlHandler, TakesTheClicksOfRichTextsWithoutTheirOwnHandler) {
  UrlHandlerFinalize();  // the test program started it as the program does
  TRichText text(false, true, false);
  {
    TShellRecorder shell;
    text.DoLinkClick("kvplug?url:https://example.org/before");
    EXPECT_TRUE(shell.Wait(300).empty()) << "no handler before the unit starts";
  }
  UrlHandlerInitialize();
  {
    TShellRecorder shell;
    text.DoLinkClick("kvplug?url:https://example.org/");
    const auto calls = shell.Wait(10000);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], "open|https://example.org/");
  }
  {
    // A text with a handler of its own keeps its clicks.
    std::string own;
    text.OnLinkClick = [&](TObject*, const AnsiString& Href) { own = Href; };
    TShellRecorder shell;
    text.DoLinkClick("kvplug?url:https://example.org/own");
    EXPECT_EQ(own, "kvplug?url:https://example.org/own");
    EXPECT_TRUE(shell.Wait(300).empty());
    text.OnLinkClick = nullptr;
  }
  UrlHandlerFinalize();
  {
    TShellRecorder shell;
    text.DoLinkClick("kvplug?url:https://example.org/after");
    EXPECT_TRUE(shell.Wait(300).empty()) << "the handler leaves nothing behind";
  }
  UrlHandlerInitialize();
}
