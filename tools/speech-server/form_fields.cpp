#include "form_fields.h"

namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace

std::string FormFields::Decode(std::string_view component) {
    std::string out;
    out.reserve(component.size());
    for (std::size_t i = 0; i < component.size(); ++i) {
        const char c = component[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < component.size() && HexValue(component[i + 1]) >= 0 &&
                   HexValue(component[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(component[i + 1]) * 16 + HexValue(component[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

void FormFields::Parse(std::string_view form, std::map<std::string, std::string>& fields) {
    while (!form.empty()) {
        const std::size_t amp = form.find('&');
        const std::string_view pair = form.substr(0, amp);
        form = amp == std::string_view::npos ? std::string_view() : form.substr(amp + 1);
        if (pair.empty())
            continue;
        const std::size_t equals = pair.find('=');
        std::string key = Decode(pair.substr(0, equals));
        std::string value =
            equals == std::string_view::npos ? std::string() : Decode(pair.substr(equals + 1));
        fields.emplace(std::move(key), std::move(value));
    }
}
