#include "utils/registry.hpp"

#include "utils/binder.hpp"

#include <cstring>
#include <vector>

namespace tv {

namespace {
std::vector<Entry>& entries() {
    // Function-local so that registrars in any translation unit may run first.
    static std::vector<Entry> all;
    return all;
}
}  // namespace

void register_function(FnDecl* fn) { entries().push_back({fn->sig.name().c_str(), fn, nullptr}); }

void register_maker(const char* name, MakeFn make) { entries().push_back({name, nullptr, make}); }

const Entry* find_entry(const char* name) {
    for (const Entry& e : entries())
        if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
}

}  // namespace tv
