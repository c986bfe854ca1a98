#include <common/TypedName.h>

#include <string>

#include <common/internal/Patterns.h>
#include <platform/FileName.h>
#include <platform/Utf8.h>

namespace common {

struct TypedName::Compiled {
    UserPattern pattern;
};

namespace {

UserPattern compileWhole(const OdString& name) {
    static constexpr char kExtensions[] = "(\\.[a-zA-Z]+)+";
    std::string pattern = ut::encodeUtf8(name.wstr());
    std::size_t frame = 0;
    if (!ut::FileName(name).hasExt()) {
        pattern += kExtensions;
        frame = sizeof kExtensions - 1;
    }
    return UserPattern(pattern.data(), pattern.size(), frame);
}

}  // namespace

TypedName::TypedName(const OdString& name)
    : m_compiled(std::make_shared<const Compiled>(Compiled{compileWhole(name)})) {}

TypedName::~TypedName() = default;
TypedName::TypedName(const TypedName&) = default;
TypedName& TypedName::operator=(const TypedName&) = default;

bool TypedName::matches(std::string_view utf8Text) const {
    return m_compiled->pattern.matches(utf8Text.data(), utf8Text.data() + utf8Text.size());
}

bool TypedName::matches(const OdString& text) const {
    return m_compiled->pattern.matches(text);
}

}  // namespace common
