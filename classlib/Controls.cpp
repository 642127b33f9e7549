#include "classlib/Controls.h"

TWinControl::~TWinControl() {
  if (FHandle) DestroyHandle();
}

void* TWinControl::Handle() {
  if (!FHandle) CreateHandle();
  return FHandle;
}

void TWinControl::CreateHandle() {
  FHandle = AllocateHWnd([this](TMessage& M) { WndProc(M); });
}

void TWinControl::DestroyHandle() {
  void* h = FHandle;
  FHandle = nullptr;
  DeallocateHWnd(h);
}

void TWinControl::WndProc(TMessage& Message) { DefaultHandler(Message); }

void TWinControl::DefaultHandler(TMessage& Message) { ::DefaultHandler(FHandle, Message); }
