// What each family contributes to the module. Families declare their functions (through
// TV_FUNCTION), their methods (through TV_METHOD) and their classes and instances (through
// TV_REGISTER) in their own files; src/module lays the names out in the module's fixed
// order and refuses to import when a declaration and that order disagree.
#pragma once
#include "utils/ref.hpp"

#include <initializer_list>
#include <vector>

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
// Every registered entry, in registration order (static initialisation: unspecified across
// files).
const std::vector<Entry>& registered_entries();

// Records a method for the table of class `owner` (done by TV_METHOD).
void register_method(const char* owner, const PyMethodDef* def);
// The method table of class `owner`: every method declared for it, in declaration order,
// then `extra` (special methods such as __reduce__), then the terminator. Built on first
// request and kept for the life of the process, as a type's table must be; nullptr with
// MemoryError set when it cannot be built.
PyMethodDef* class_methods(const char* owner,
                           std::initializer_list<PyMethodDef> extra = {}) noexcept;
// The first class that has declared methods but whose table no type has read (a misspelt
// class name in a declaration), or nullptr.
const char* unread_method_owner();

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
