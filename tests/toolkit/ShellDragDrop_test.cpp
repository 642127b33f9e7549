// The drag-and-drop control: the data object's answers, the format enumerator, dropped files of
// any length and any script, other formats as streams, and drops through OLE.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "classlib/Forms.h"
#include "common/XInput.h"
#include "toolkit/ShellDragDrop.h"

namespace {
FORMATETC Fe(CLIPFORMAT Format, DWORD Tymed = TYMED_HGLOBAL, LONG Index = -1, DWORD Aspect = DVASPECT_CONTENT) {
  return FORMATETC{Format, nullptr, Aspect, Index, Tymed};
}

HGLOBAL GlobalOf(const void* Data, size_t Size) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, Size ? Size : 1);
  std::memcpy(GlobalLock(h), Data, Size);
  GlobalUnlock(h);
  return h;
}

std::string GlobalText(HGLOBAL H) {
  auto* p = static_cast<const char*>(GlobalLock(H));
  std::string s(p, GlobalSize(H));
  GlobalUnlock(H);
  return s;
}

// A CF_HDROP block with wide names at Point.
HGLOBAL MakeHDrop(const std::vector<std::wstring>& Names, POINT Point = {0, 0}) {
  std::vector<wchar_t> list;
  for (const auto& n : Names) {
    list.insert(list.end(), n.begin(), n.end());
    list.push_back(0);
  }
  list.push_back(0);
  size_t size = sizeof(DROPFILES) + list.size() * sizeof(wchar_t);
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  auto* df = static_cast<DROPFILES*>(GlobalLock(h));
  df->pFiles = sizeof(DROPFILES);
  df->pt = Point;
  df->fWide = TRUE;
  std::memcpy(reinterpret_cast<char*>(df) + sizeof(DROPFILES), list.data(), list.size() * sizeof(wchar_t));
  GlobalUnlock(h);
  return h;
}

// Names no 8-bit code page holds whole, and one longer than any fixed buffer of the shell's.
std::vector<std::wstring> OddNames() {
  std::wstring longName = L"C:\\";
  while (longName.size() < 320) longName += L"\u6587\u4EF6abc\\";
  longName += L"\u0159\u00E9\u4E2D.wav";
  return {longName, L"C:\\m\u00FAsica\\\u041C\u0443\u0437\u044B\u043A\u0430 \U0001F3B5.flac", L"D:\\a.mp3"};
}

struct Com {
  template <class T>
  static void Release(T*& P) {
    if (P) P->Release();
    P = nullptr;
  }
};

// A data object filled with a text (format 1 in global memory) and a CF_HDROP.
struct DataObjectFixture : ::testing::Test {
  TDataObject* Data = new TDataObject;
  void SetUp() override {
    FORMATETC text = Fe(CF_TEXT);
    STGMEDIUM m{};
    m.tymed = TYMED_HGLOBAL;
    m.hGlobal = GlobalOf("hello", 6);
    ASSERT_EQ(S_OK, Data->SetData(&text, &m, TRUE));
    FORMATETC drop = Fe(CF_HDROP);
    STGMEDIUM m2{};
    m2.tymed = TYMED_HGLOBAL;
    m2.hGlobal = MakeHDrop({L"C:\\x.wav"});
    // Kept by the caller: the object stores a copy.
    ASSERT_EQ(S_OK, Data->SetData(&drop, &m2, FALSE));
    GlobalFree(m2.hGlobal);
  }
  void TearDown() override { Com::Release(Data); }
};

TEST_F(DataObjectFixture, QueryGetDataAndGetDataAnswerAsTheTableSays) {
  struct Case {
    const char* Name;
    FORMATETC Format;
    HRESULT Query, Get;
  } cases[] = {
      {"text in global memory", Fe(CF_TEXT), S_OK, S_OK},
      {"text in any medium", Fe(CF_TEXT, TYMED_HGLOBAL | TYMED_ISTREAM), S_OK, S_OK},
      {"index 0", Fe(CF_TEXT, TYMED_HGLOBAL, 0), DV_E_LINDEX, DV_E_FORMATETC},
      {"icon aspect", Fe(CF_TEXT, TYMED_HGLOBAL, -1, DVASPECT_ICON), DV_E_DVASPECT, S_OK},
      {"format not held, medium shared", Fe(CF_BITMAP), DV_E_CLIPFORMAT, DV_E_FORMATETC},
      {"format held, medium not", Fe(CF_TEXT, TYMED_ISTREAM), DV_E_TYMED, DV_E_FORMATETC},
      {"files", Fe(CF_HDROP), S_OK, S_OK},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(c.Query, Data->QueryGetData(&c.Format));
    STGMEDIUM m{};
    EXPECT_EQ(c.Get, Data->GetData(&c.Format, &m));
    if (c.Get == S_OK) {
      EXPECT_EQ((DWORD)TYMED_HGLOBAL, m.tymed);
      if (c.Format.cfFormat == CF_TEXT) {
        EXPECT_EQ(std::string("hello", 6), GlobalText(m.hGlobal));
      }
      ReleaseStgMedium(&m);
    }
  }
  EXPECT_EQ(E_NOTIMPL, Data->GetDataHere(&cases[0].Format, nullptr));
  FORMATETC out{};
  EXPECT_EQ(DATA_S_SAMEFORMATETC, Data->GetCanonicalFormatEtc(&cases[0].Format, &out));
  EXPECT_EQ(OLE_E_ADVISENOTSUPPORTED, Data->DAdvise(&cases[0].Format, 0, nullptr, nullptr));
  IEnumFORMATETC* e = nullptr;
  EXPECT_EQ(E_NOTIMPL, Data->EnumFormatEtc(DATADIR_SET, &e));
  EXPECT_EQ(nullptr, e);
}

TEST_F(DataObjectFixture, EachGetDataHandsOutItsOwnCopy) {
  FORMATETC f = Fe(CF_TEXT);
  STGMEDIUM a{}, b{};
  ASSERT_EQ(S_OK, Data->GetData(&f, &a));
  ASSERT_EQ(S_OK, Data->GetData(&f, &b));
  EXPECT_NE(a.hGlobal, b.hGlobal);
  ReleaseStgMedium(&a);
  EXPECT_EQ(std::string("hello", 6), GlobalText(b.hGlobal));
  ReleaseStgMedium(&b);
}

TEST_F(DataObjectFixture, EnumeratorNextSkipResetAndCloneFollowCom) {
  IEnumFORMATETC* e = nullptr;
  ASSERT_EQ(S_OK, Data->EnumFormatEtc(DATADIR_GET, &e));
  FORMATETC out[3]{};
  ULONG fetched = 99;
  // Three asked, two there: both copied, S_FALSE, the count right.
  EXPECT_EQ(S_FALSE, e->Next(3, out, &fetched));
  EXPECT_EQ(2u, fetched);
  EXPECT_EQ(CF_TEXT, out[0].cfFormat);
  EXPECT_EQ(CF_HDROP, out[1].cfFormat);
  fetched = 99;
  EXPECT_EQ(S_FALSE, e->Next(1, out, &fetched));  // at the end
  EXPECT_EQ(0u, fetched);
  EXPECT_EQ(S_OK, e->Reset());
  EXPECT_EQ(S_OK, e->Next(2, out, &fetched));
  EXPECT_EQ(2u, fetched);
  EXPECT_EQ(S_OK, e->Reset());
  EXPECT_EQ(S_FALSE, e->Next(2, out, nullptr));  // more than one without a count
  EXPECT_EQ(S_FALSE, e->Next(0, out, &fetched));
  EXPECT_EQ(S_FALSE, e->Next(1, nullptr, &fetched));

  struct SkipCase {
    ULONG From, N;
    HRESULT Result;
    CLIPFORMAT NextFormat;  // 0: at the end
  } skips[] = {
      {0, 0, S_OK, CF_TEXT}, {0, 1, S_OK, CF_HDROP}, {0, 2, S_OK, 0}, {0, 3, S_FALSE, 0}, {1, 5, S_FALSE, 0}, {2, 1, S_FALSE, 0},
  };
  for (const auto& s : skips) {
    SCOPED_TRACE(::testing::Message() << "skip " << s.N << " from " << s.From);
    e->Reset();
    ASSERT_EQ(S_OK, e->Skip(s.From));
    EXPECT_EQ(s.Result, e->Skip(s.N));
    fetched = 99;
    HRESULT hr = e->Next(1, out, &fetched);
    EXPECT_EQ(s.NextFormat ? S_OK : S_FALSE, hr);
    if (s.NextFormat) {
      EXPECT_EQ(s.NextFormat, out[0].cfFormat);
    }
  }

  // A clone starts at the same place and moves on its own.
  e->Reset();
  e->Skip(1);
  IEnumFORMATETC* c = nullptr;
  ASSERT_EQ(S_OK, e->Clone(&c));
  EXPECT_EQ(S_OK, c->Next(1, out, nullptr));
  EXPECT_EQ(CF_HDROP, out[0].cfFormat);
  EXPECT_EQ(S_OK, e->Next(1, out, nullptr));
  EXPECT_EQ(CF_HDROP, out[0].cfFormat);
  c->Release();
  e->Release();
}

TEST(HGlobalStream, ReadsTheMemoryAndRefusesWriting) {
  HGLOBAL h = GlobalOf("abcdef", 6);
  {
    THGlobalStream s(h);
    EXPECT_EQ(6, s.Size());
    char buf[4] = {};
    EXPECT_EQ(4, s.Read(buf, 4));
    EXPECT_EQ(std::string("abcd"), std::string(buf, 4));
    try {
      s.Write("x", 1);
      ADD_FAILURE() << "writing was taken";
    } catch (const Exception& E) {
      EXPECT_NE(std::string::npos, std::string(E.what()).find("THGlobalStream doesn't support writing")) << E.what();
    }
  }
  // The handle stays the caller's and is unlocked again.
  EXPECT_EQ(0u, GlobalFlags(h) & GMEM_LOCKCOUNT);
  GlobalFree(h);
}

TEST(DroppedFiles, NamesOfAnyLengthAndScriptArriveWhole) {
  auto names = OddNames();
  ASSERT_GT(names[0].size(), 300u);
  HGLOBAL h = MakeHDrop(names);
  std::unique_ptr<TUniStringList> list(GetDroppedFiles(static_cast<HDROP>(h)));
  ASSERT_EQ((int)names.size(), list->Count());
  for (int i = 0; i < list->Count(); ++i) EXPECT_TRUE(names[i] == list->Get(i)) << "name " << i;
  GlobalFree(h);
}

// ---------------------------------------------------------------------------------------------

// A control that accepts the formats it is given and records what arrives.
class TRecordingDropControl : public TDragDropControl {
 public:
  TRecordingDropControl(TComponent* AOwner, std::vector<uint16_t> Accepted)
      : TDragDropControl(AOwner), FAccepted(std::move(Accepted)) {}
  uint16_t GetAcceptedFormat(int Index) override {
    return Index < (int)FAccepted.size() ? FAccepted[Index] : 0;
  }
  void DropFiles(TUniStringList* Files, POINT Point) override {
    for (int i = 0; i < Files->Count(); ++i) Files_.push_back(Files->Get(i));
    FilesPoint = Point;
    ++FileDrops;
  }
  void DropStream(uint16_t Format, POINT Point, TStream* Stream) override {
    StreamFormat = Format;
    std::string s((size_t)Stream->Size(), '\0');
    Stream->ReadBuffer(s.data(), (int32_t)s.size());
    StreamData = s;
  }
  bool GetDragData(TDataObject* DataObject, TBitmap* Bitmap, bool& AllowSelfDrop) override {
    if (DragFiles.empty()) return false;
    FORMATETC f = Fe(CF_HDROP);
    STGMEDIUM m{};
    m.tymed = TYMED_HGLOBAL;
    m.hGlobal = MakeHDrop(DragFiles);
    DataObject->SetData(&f, &m, TRUE);
    AllowSelfDrop = false;
    ++DragRequests;
    return true;
  }
  void EndDrag() override { ++DragsEnded; }
  std::vector<std::wstring> Files_;
  POINT FilesPoint{-5, -5};
  int FileDrops = 0;
  uint16_t StreamFormat = 0;
  std::string StreamData;
  std::vector<std::wstring> DragFiles;
  int DragRequests = 0, DragsEnded = 0;

 private:
  std::vector<uint16_t> FAccepted;
};

struct DropControlFixture : ::testing::Test {
  std::unique_ptr<TForm> Form;
  void SetUp() override {
    Form = std::make_unique<TForm>(nullptr);
    Form->SetBounds(100, 100, 400, 300);
  }
  TRecordingDropControl* Add(std::vector<uint16_t> Formats, int Left = 10) {
    auto* c = new TRecordingDropControl(Form.get(), std::move(Formats));
    c->SetBounds(Left, 10, 150, 150);
    c->SetParent(Form.get());
    c->HandleNeeded();
    return c;
  }
  static HWND H(TWinControl* C) { return static_cast<HWND>(C->Handle()); }
};

TEST_F(DropControlFixture, AControlThatAcceptsNothingRegistersNoTargetAndTakesNoFiles) {
  TRecordingDropControl* c = Add({});
  EXPECT_EQ(nullptr, c->DropTarget());
  EXPECT_EQ(DRAGDROP_E_NOTREGISTERED, RevokeDragDrop(H(c)));
  EXPECT_EQ(0, GetWindowLongA(H(c), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
}

TEST_F(DropControlFixture, AcceptingFormatsRegistersTheDropTarget) {
  TRecordingDropControl* c = Add({CF_HDROP});
  ASSERT_NE(nullptr, c->DropTarget());
  EXPECT_EQ(DRAGDROP_E_ALREADYREGISTERED, RegisterDragDrop(H(c), c->DropTarget()));
  // A new window is registered again; the old one was revoked.
  HWND old = H(c);
  c->RecreateWnd();
  EXPECT_FALSE(IsWindow(old));
  EXPECT_EQ(DRAGDROP_E_ALREADYREGISTERED, RegisterDragDrop(H(c), c->DropTarget()));
}

TEST_F(DropControlFixture, ShellDroppedFilesArriveWholeAndTheHandleIsFinished) {
  TRecordingDropControl* c = Add({CF_HDROP});
  auto names = OddNames();
  HGLOBAL h = MakeHDrop(names, POINT{12, 34});
  SendMessageA(H(c), WM_DROPFILES, reinterpret_cast<WPARAM>(h), 0);
  ASSERT_EQ(1, c->FileDrops);
  EXPECT_TRUE(names == c->Files_);
  EXPECT_EQ(12, c->FilesPoint.x);
  EXPECT_EQ(34, c->FilesPoint.y);
}

TEST_F(DropControlFixture, OleDropOfFilesAndOfAnotherFormatReachTheControl) {
  uint16_t custom = (uint16_t)RegisterClipboardFormatA("SampleMorph.TestBytes");
  TRecordingDropControl* c = Add({custom, CF_HDROP});
  IDropTarget* target = c->DropTarget();
  ASSERT_NE(nullptr, target);
  RECT wr;
  GetWindowRect(H(c), &wr);
  POINTL at{wr.left + 20, wr.top + 30};

  auto names = OddNames();
  struct Case {
    const char* Name;
    bool Files, Bytes;
  } cases[] = {{"files only", true, false}, {"bytes only", false, true}, {"both: the first accepted wins", true, true}};
  for (const auto& cs : cases) {
    SCOPED_TRACE(cs.Name);
    c->Files_.clear();
    c->FileDrops = 0;
    c->StreamFormat = 0;
    TDataObject* data = new TDataObject;
    if (cs.Files) {
      FORMATETC f = Fe(CF_HDROP);
      STGMEDIUM m{};
      m.tymed = TYMED_HGLOBAL;
      m.hGlobal = MakeHDrop(names);
      data->SetData(&f, &m, TRUE);
    }
    if (cs.Bytes) {
      FORMATETC f = Fe(custom);
      STGMEDIUM m{};
      m.tymed = TYMED_HGLOBAL;
      m.hGlobal = GlobalOf("\x01\x02payload", 9);
      data->SetData(&f, &m, TRUE);
    }
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    EXPECT_EQ(S_OK, target->DragEnter(data, MK_LBUTTON, at, &effect));
    EXPECT_EQ((DWORD)DROPEFFECT_MOVE, effect);
    EXPECT_TRUE(c->IsDragging());
    effect = DROPEFFECT_COPY;
    EXPECT_EQ(S_OK, target->DragOver(MK_LBUTTON, at, &effect));
    EXPECT_EQ((DWORD)DROPEFFECT_MOVE, effect);
    EXPECT_EQ(S_OK, target->Drop(data, 0, at, &effect));
    EXPECT_EQ((DWORD)DROPEFFECT_NONE, effect);
    EXPECT_FALSE(c->IsDragging());
    if (cs.Bytes) {
      EXPECT_EQ(custom, c->StreamFormat);
      EXPECT_EQ(std::string("\x01\x02payload", 9), c->StreamData);
      EXPECT_EQ(0, c->FileDrops);
    } else {
      EXPECT_EQ(1, c->FileDrops);
      EXPECT_TRUE(names == c->Files_);
      EXPECT_EQ(20, c->FilesPoint.x);  // client coordinates
      EXPECT_EQ(30, c->FilesPoint.y);
      EXPECT_EQ(0, c->StreamFormat);
    }
    data->Release();
  }

  // Data in no accepted format: no effect, nothing current, a drop does nothing.
  TDataObject* other = new TDataObject;
  FORMATETC f = Fe(CF_TEXT);
  STGMEDIUM m{};
  m.tymed = TYMED_HGLOBAL;
  m.hGlobal = GlobalOf("x", 1);
  other->SetData(&f, &m, TRUE);
  DWORD effect = DROPEFFECT_COPY;
  EXPECT_EQ(S_OK, target->DragEnter(other, MK_LBUTTON, at, &effect));
  EXPECT_EQ((DWORD)DROPEFFECT_NONE, effect);
  EXPECT_FALSE(c->IsDragging());
  effect = DROPEFFECT_COPY;
  target->DragOver(0, at, &effect);
  EXPECT_EQ((DWORD)DROPEFFECT_NONE, effect);
  EXPECT_EQ(S_OK, target->DragLeave());
  other->Release();

  // While the control drags and refuses its own drop, it is told nothing.
  c->DropTarget()->SetSelfDrop(true);
  TDataObject* files = new TDataObject;
  FORMATETC hf = Fe(CF_HDROP);
  STGMEDIUM hm{};
  hm.tymed = TYMED_HGLOBAL;
  hm.hGlobal = MakeHDrop({L"C:\\self.wav"});
  files->SetData(&hf, &hm, TRUE);
  effect = DROPEFFECT_MOVE;
  c->FileDrops = 0;
  EXPECT_EQ(S_OK, target->DragEnter(files, MK_LBUTTON, at, &effect));
  EXPECT_EQ((DWORD)DROPEFFECT_NONE, effect);
  EXPECT_EQ(S_OK, target->Drop(files, 0, at, &effect));
  EXPECT_EQ(0, c->FileDrops);
  c->DropTarget()->SetSelfDrop(false);
  files->Release();
}

TEST_F(DropControlFixture, PasteHandsTheClipboardsAcceptedFormatOn) {
  uint16_t custom = (uint16_t)RegisterClipboardFormatA("SampleMorph.TestBytes");
  TRecordingDropControl* c = Add({custom});
  ASSERT_TRUE(OpenClipboard(H(c)));
  EmptyClipboard();
  EXPECT_FALSE(c->CanPaste());
  SetClipboardData(custom, GlobalOf("clip", 4));
  CloseClipboard();
  EXPECT_TRUE(c->CanPaste());
  c->Paste();
  EXPECT_EQ(custom, c->StreamFormat);
  EXPECT_EQ("clip", c->StreamData);
  ASSERT_TRUE(OpenClipboard(H(c)));
  EmptyClipboard();
  CloseClipboard();
  EXPECT_FALSE(c->CanPaste());
}
}  // namespace

namespace {
// A real drag with the X server's mouse: pressed on one control, moved past the drag threshold
// and released over another that accepts files. DoDragDrop runs its loop inside the first
// control's mouse move.
TEST_F(DropControlFixture, RealMouseDragFromOneControlDropsOnTheOther) {
  TRecordingDropControl* source = Add({CF_HDROP}, 10);
  TRecordingDropControl* target = Add({CF_HDROP}, 220);
  auto names = OddNames();
  source->DragFiles = names;
  Form->Show();
  xinput::PumpFor(300);
  POINT from{40, 40}, to{60, 70};
  ClientToScreen(H(source), &from);
  ClientToScreen(H(target), &to);
  xinput::Run(Format("mousemove %d %d sleep 0.3 mousedown 1 sleep 0.2 mousemove %d %d sleep 0.2 "
                     "mousemove %d %d sleep 0.3 mousemove %d %d sleep 0.3 mouseup 1",
                     (int)from.x, (int)from.y, (int)from.x + 12, (int)from.y + 12, (int)to.x - 4, (int)to.y,
                     (int)to.x, (int)to.y));
  ASSERT_TRUE(xinput::PumpUntil([&] { return target->FileDrops > 0 && source->DragsEnded > 0; }, 15000))
      << "drags asked " << source->DragRequests << ", ended " << source->DragsEnded << ", drops "
      << target->FileDrops;
  EXPECT_EQ(1, source->DragRequests);
  EXPECT_EQ(1, target->FileDrops);
  EXPECT_TRUE(names == target->Files_);
  EXPECT_EQ(0, source->FileDrops);  // its own drop was refused
  EXPECT_FALSE(source->DropTarget()->SelfDrop());
}
}  // namespace
