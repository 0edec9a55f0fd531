// The names the configuration database knows: every class, the instance
// names it takes and the properties its rows may hold.  Writes of anything
// else are refused (lsqlquery.hpp); reads of unknown names find nothing.
#pragma once

#include <span>
#include <string>
#include <string_view>

struct dman_schema_class {
    const char* name;
    // Instance name patterns: "" is the single instance of the class, "%d"
    // stands for one or more decimal digits, "*" for any non-empty name.
    std::span<const char* const> instances;
    std::span<const char* const> properties;
};

// Every class, in the order of the factory configuration.
std::span<const dman_schema_class> dman_schema_classes();

// The class of that name, or null with the error text naming it.
const dman_schema_class* dman_schema_class_of(std::string_view cls, std::string& error);
// Whether the class takes the instance (null: no instance given, always
// true) or holds the property; false with the error text naming it.
bool dman_schema_instance_ok(const dman_schema_class& c, const char* instance, std::string& error);
bool dman_schema_property_ok(const dman_schema_class& c, std::string_view property,
                             std::string& error);

// Whether an instance name fits a pattern of the form described above.
bool dman_schema_pattern_match(std::string_view pattern, std::string_view name);
