#include "core/text_convert.h"

#include "platform/text_codec.h"

namespace {

template <class View>
View UpToZero(View text) {
    const auto zero = text.find(typename View::value_type{});
    return zero == View::npos ? text : text.substr(0, zero);
}

}  // namespace

std::wstring AnsiToWide(std::string_view text) {
    return platform::Utf8ToWide(UpToZero(text));
}

std::string WideToAnsi(std::wstring_view text) {
    return platform::WideToUtf8(UpToZero(text));
}

std::string WideToUtf8(std::wstring_view text) {
    return platform::WideToUtf8(UpToZero(text));
}
