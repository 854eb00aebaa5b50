// What each family contributes to the module. Families declare their functions (through
// TV_FUNCTION) and their classes and instances (through TV_REGISTER) in their own files;
// src/module lays them out in the module's fixed order.
#pragma once
#include "utils/ref.hpp"

namespace tv {

struct FnDecl;

// Makes the value stored under a registered name (a class, an instance). Returns a new
// reference or nullptr with an exception set.
using MakeFn = PyObject* (*)(PyObject* module);

struct Entry {
    const char* name;
    FnDecl* fn;   // a module function, or
    MakeFn make;  // anything else
};

void register_function(FnDecl* fn);
void register_maker(const char* name, MakeFn make);
const Entry* find_entry(const char* name);

struct Registrar {
    Registrar(const char* name, MakeFn make) { register_maker(name, make); }
};

}  // namespace tv

#define TV_REGISTER_CAT2_(a, b) a##b
#define TV_REGISTER_CAT_(a, b) TV_REGISTER_CAT2_(a, b)
// Registers `make` under NAME (a class, an instance, or "#Name" for an internal type that is
// created during initialisation but not added to the module).
#define TV_REGISTER(NAME, MAKE) \
    static ::tv::Registrar TV_REGISTER_CAT_(tv_registrar_, __LINE__){NAME, MAKE}
