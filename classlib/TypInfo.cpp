#include "classlib/TypInfo.h"

#include <map>
#include <mutex>
#include <typeindex>

namespace {
struct Registry {
  std::mutex Lock;
  std::map<std::type_index, TClassInfo> ByType;
};

Registry& TheRegistry() {
  static Registry r;
  return r;
}

const TClassInfo* Find(const std::type_info& T) {
  Registry& r = TheRegistry();
  auto it = r.ByType.find(std::type_index(T));
  return it == r.ByType.end() ? nullptr : &it->second;
}
}  // namespace

void RegisterClassInfo(TClassInfo Info) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.Lock);
  std::type_index key(*Info.Type);
  r.ByType.erase(key);
  r.ByType.emplace(key, std::move(Info));
}

const TClassInfo* ClassInfoOf(const TObject* Instance) {
  if (!Instance) return nullptr;
  std::lock_guard<std::mutex> g(TheRegistry().Lock);
  return Find(typeid(*Instance));
}

const TClassInfo* FindClassInfo(const AnsiString& Name) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> g(r.Lock);
  for (auto& [key, info] : r.ByType)
    if (SameText(info.Name, Name)) return &info;
  return nullptr;
}

std::vector<const TPropInfo*> GetPropList(const TObject* Instance) {
  std::vector<const TPropInfo*> result;
  if (!Instance) return result;
  std::lock_guard<std::mutex> g(TheRegistry().Lock);
  std::vector<const TClassInfo*> chain;
  for (const TClassInfo* c = Find(typeid(*Instance)); c && chain.size() < 64;
       c = c->ParentType ? Find(*c->ParentType) : nullptr)
    chain.push_back(c);
  for (auto it = chain.rbegin(); it != chain.rend(); ++it)
    for (const TPropInfo& p : (*it)->Props) result.push_back(&p);
  return result;
}

const TPropInfo* GetPropInfo(const TObject* Instance, const AnsiString& Name) {
  const TPropInfo* found = nullptr;
  for (const TPropInfo* p : GetPropList(Instance))
    if (SameText(p->Name, Name)) found = p;  // a redeclared property wins
  return found;
}
