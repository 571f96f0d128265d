#pragma once
// Fields of an application/x-www-form-urlencoded text: "&"-separated "key=value" pairs, both
// sides percent-decoded once with "+" as a space. The first of repeated keys wins; malformed
// escapes stay as written, as browsers do.

#include <map>
#include <string>
#include <string_view>

class FormFields {
public:
    static void Parse(std::string_view form, std::map<std::string, std::string>& fields);
    static std::string Decode(std::string_view component);
};
