// Published properties: C++ has no run-time property information, so every class whose
// properties are streamed registers them here, in declaration order, with its parent class.
#pragma once
#include <functional>
#include <type_traits>
#include <typeinfo>
#include <vector>

#include "classlib/Classes.h"

enum TTypeKind {
  tkUnknown, tkInteger, tkChar, tkEnumeration, tkFloat, tkString, tkSet, tkClass, tkMethod, tkWChar,
  tkLString, tkWString, tkVariant, tkArray, tkRecord, tkInterface, tkInt64, tkDynArray
};

struct TPropInfo {
  AnsiString Name;
  TTypeKind Kind = tkUnknown;
  // tkInteger, tkChar, tkWChar, tkEnumeration (Boolean: 0 and 1)
  std::function<int64_t(TObject*)> GetOrd;
  std::function<void(TObject*, int64_t)> SetOrd;
  // tkString, tkLString
  std::function<AnsiString(TObject*)> GetStr;
  std::function<void(TObject*, const AnsiString&)> SetStr;
  // tkWString
  std::function<WideString(TObject*)> GetWStr;
  std::function<void(TObject*, const WideString&)> SetWStr;
  // tkClass: the owned sub-object whose own properties are streamed ("Lines.Strings").
  std::function<TPersistent*(TObject*)> GetObj;
};

struct TClassInfo {
  AnsiString Name;
  const std::type_info* Type = nullptr;
  const std::type_info* ParentType = nullptr;
  std::vector<TPropInfo> Props;
  // Makes a component of the class (for the form reader); empty for classes that are not components.
  std::function<TComponent*(TComponent* Owner)> Create;
};

// Registers (or replaces) the class T, published properties of its own in declaration order.
void RegisterClassInfo(TClassInfo Info);
template <class T, class Parent>
void RegisterPublished(const AnsiString& Name, std::vector<TPropInfo> Props) {
  TClassInfo info;
  info.Name = Name;
  info.Type = &typeid(T);
  info.ParentType = &typeid(Parent);
  info.Props = std::move(Props);
  if constexpr (std::is_base_of_v<TComponent, T> && std::is_constructible_v<T, TComponent*>)
    info.Create = [](TComponent* Owner) -> TComponent* { return new T(Owner); };
  RegisterClassInfo(std::move(info));
}

// The class information of an object's own class; null when the class is not registered.
const TClassInfo* ClassInfoOf(const TObject* Instance);
// The registered class of this name (case-insensitive); null when there is none.
const TClassInfo* FindClassInfo(const AnsiString& Name);
// Every published property of the object's class: the parents' first, each in declaration order.
std::vector<const TPropInfo*> GetPropList(const TObject* Instance);
const TPropInfo* GetPropInfo(const TObject* Instance, const AnsiString& Name);

// Property descriptors for the registration lists.
template <class T>
TPropInfo WideStrProp(const char* Name, WideString (T::*Get)() const, void (T::*Set)(const WideString&)) {
  TPropInfo p;
  p.Name = Name;
  p.Kind = tkWString;
  p.GetWStr = [Get](TObject* O) { return (static_cast<T*>(O)->*Get)(); };
  p.SetWStr = [Set](TObject* O, const WideString& V) { (static_cast<T*>(O)->*Set)(V); };
  return p;
}
template <class T>
TPropInfo WideCharProp(const char* Name, wchar_t (T::*Get)() const, void (T::*Set)(wchar_t)) {
  TPropInfo p;
  p.Name = Name;
  p.Kind = tkWChar;
  p.GetOrd = [Get](TObject* O) { return (int64_t)(uint16_t)(static_cast<T*>(O)->*Get)(); };
  p.SetOrd = [Set](TObject* O, int64_t V) { (static_cast<T*>(O)->*Set)((wchar_t)V); };
  return p;
}
template <class T>
TPropInfo StrProp(const char* Name, AnsiString (T::*Get)() const, void (T::*Set)(const AnsiString&)) {
  TPropInfo p;
  p.Name = Name;
  p.Kind = tkLString;
  p.GetStr = [Get](TObject* O) { return (static_cast<T*>(O)->*Get)(); };
  p.SetStr = [Set](TObject* O, const AnsiString& V) { (static_cast<T*>(O)->*Set)(V); };
  return p;
}
template <class T>
TPropInfo IntProp(const char* Name, int (T::*Get)() const, void (T::*Set)(int)) {
  TPropInfo p;
  p.Name = Name;
  p.Kind = tkInteger;
  p.GetOrd = [Get](TObject* O) { return (int64_t)(static_cast<T*>(O)->*Get)(); };
  p.SetOrd = [Set](TObject* O, int64_t V) { (static_cast<T*>(O)->*Set)((int)V); };
  return p;
}
template <class T>
TPropInfo BoolProp(const char* Name, bool (T::*Get)() const, void (T::*Set)(bool)) {
  TPropInfo p;
  p.Name = Name;
  p.Kind = tkEnumeration;
  p.GetOrd = [Get](TObject* O) { return (int64_t)(static_cast<T*>(O)->*Get)(); };
  p.SetOrd = [Set](TObject* O, int64_t V) { (static_cast<T*>(O)->*Set)(V != 0); };
  return p;
}
template <class T, class Obj>
TPropInfo ObjProp(const char* Name, Obj* (T::*Get)() const) {
  TPropInfo p;
  p.Name = Name;
  p.Kind = tkClass;
  p.GetObj = [Get](TObject* O) -> TPersistent* { return (static_cast<T*>(O)->*Get)(); };
  return p;
}
