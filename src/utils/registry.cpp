#include "utils/registry.hpp"

#include "utils/binder.hpp"

#include <cstring>
#include <memory>

namespace tv {

namespace {

// Function-local statics throughout, so that declarations in any translation unit may run
// first.
std::vector<Entry>& entries() {
    static std::vector<Entry> all;
    return all;
}

struct MethodOwner {
    const char* name;
    std::vector<PyMethodDef> defs;       // declared methods, then (once read) the extras
    bool read = false;
};

std::vector<std::unique_ptr<MethodOwner>>& owners() {
    static std::vector<std::unique_ptr<MethodOwner>> all;
    return all;
}

MethodOwner& owner_named(const char* name) {
    for (auto& o : owners())
        if (std::strcmp(o->name, name) == 0) return *o;
    owners().push_back(std::make_unique<MethodOwner>(MethodOwner{name, {}}));
    return *owners().back();
}

}  // namespace

void register_function(FnDecl* fn) { entries().push_back({fn->sig.name().c_str(), fn, nullptr}); }

void register_maker(const char* name, MakeFn make) { entries().push_back({name, nullptr, make}); }

const std::vector<Entry>& registered_entries() { return entries(); }

void register_method(const char* owner, const PyMethodDef* def) {
    MethodOwner& o = owner_named(owner);
    // Declarations run before any type exists; a table handed out is never grown again.
    if (o.read) std::terminate();
    o.defs.push_back(*def);
}

PyMethodDef* class_methods(const char* owner, std::initializer_list<PyMethodDef> extra) noexcept {
    return guard<PyMethodDef*>(nullptr, [&] {
        MethodOwner& o = owner_named(owner);
        if (!o.read) {
            o.defs.reserve(o.defs.size() + extra.size() + 1);
            o.defs.insert(o.defs.end(), extra.begin(), extra.end());
            o.defs.push_back({nullptr, nullptr, 0, nullptr});
            o.read = true;
        }
        return o.defs.data();
    });
}

const char* unread_method_owner() {
    for (auto& o : owners())
        if (!o->read) return o->name;
    return nullptr;
}

}  // namespace tv
