#include "places/TextFold.h"

#include <unicode/uchar.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <vector>

namespace nimbara::server {

namespace {

// Letters that are not a base letter plus an accent in Unicode, yet that people type as the base.
std::u16string_view baseLetters(char16_t c)
{
    switch (c) {
    case u'ł':
        return u"l";
    case u'ø':
        return u"o";
    case u'đ':
        return u"d";
    case u'ð':
        return u"d";
    case u'ħ':
        return u"h";
    case u'ı':
        return u"i";
    case u'ŧ':
        return u"t";
    case u'þ':
        return u"th";
    case u'æ':
        return u"ae";
    case u'œ':
        return u"oe";
    default:
        return {};
    }
}

bool isSeparator(char16_t c)
{
    return c == u' ' || c == u'-' || c == u'\'' || c == u'.' || c == u'\u2019' || c == u'\u2010' ||
           c == u'\u2011' || c == u'\u2013' || c == u'\u00a0' || c == u'\u02bc' || c == u'`' || c == u'\t';
}

// Runs one ICU transformation that writes into a buffer, growing it once when it was too small.
template <typename Transform>
bool transform(const std::u16string &in, std::u16string &out, Transform &&run)
{
    UErrorCode status = U_ZERO_ERROR;
    out.resize(in.size() * 2 + 8);
    int32_t length = run(in.data(), static_cast<int32_t>(in.size()), out.data(),
                         static_cast<int32_t>(out.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        out.resize(static_cast<size_t>(length));
        length = run(in.data(), static_cast<int32_t>(in.size()), out.data(), static_cast<int32_t>(out.size()),
                     &status);
    }
    if (U_FAILURE(status))
        return false;
    out.resize(static_cast<size_t>(length));
    return true;
}

} // namespace

std::optional<std::string> foldForSearch(std::string_view utf8)
{
    UErrorCode status = U_ZERO_ERROR;
    if (utf8.empty())
        return std::string();
    std::u16string text(utf8.size(), u'\0');
    int32_t length = 0;
    // No substitution character: invalid UTF-8 is refused, not guessed at.
    u_strFromUTF8(text.data(), static_cast<int32_t>(text.size()), &length, utf8.data(),
                  static_cast<int32_t>(utf8.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    text.resize(static_cast<size_t>(length));

    const UNormalizer2 *nfd = unorm2_getNFDInstance(&status);
    const UNormalizer2 *nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status))
        return std::nullopt;
    std::u16string folded;
    std::u16string decomposed;
    if (!transform(text, folded,
                   [](const UChar *in, int32_t inLength, UChar *out, int32_t capacity, UErrorCode *error) {
                       return u_strFoldCase(out, capacity, in, inLength, U_FOLD_CASE_DEFAULT, error);
                   }) ||
        !transform(folded, decomposed,
                   [nfd](const UChar *in, int32_t inLength, UChar *out, int32_t capacity, UErrorCode *error) {
                       return unorm2_normalize(nfd, in, inLength, out, capacity, error);
                   }))
        return std::nullopt;

    std::u16string plain;
    plain.reserve(decomposed.size());
    for (char16_t c : decomposed) {
        // The combining diacritical marks of Latin, Greek and Cyrillic; the marks of other scripts
        // (Devanagari vowel signs, the Japanese voicing mark) are part of the letter.
        if (c >= 0x0300 && c <= 0x036f)
            continue;
        if (isSeparator(c)) {
            if (!plain.empty() && plain.back() != u' ')
                plain.push_back(u' ');
            continue;
        }
        if (auto base = baseLetters(c); !base.empty())
            plain.append(base);
        else
            plain.push_back(c);
    }
    if (!plain.empty() && plain.back() == u' ')
        plain.pop_back();

    std::u16string composed;
    if (!transform(plain, composed,
                   [nfc](const UChar *in, int32_t inLength, UChar *out, int32_t capacity, UErrorCode *error) {
                       return unorm2_normalize(nfc, in, inLength, out, capacity, error);
                   }))
        return std::nullopt;

    std::string result(composed.size() * 3, '\0');
    length = 0;
    status = U_ZERO_ERROR;
    u_strToUTF8(result.data(), static_cast<int32_t>(result.size()), &length, composed.data(),
                static_cast<int32_t>(composed.size()), &status);
    if (U_FAILURE(status))
        return std::nullopt;
    result.resize(static_cast<size_t>(length));
    return result;
}

size_t characterCount(std::string_view utf8)
{
    size_t count = 0;
    for (unsigned char c : utf8)
        count += (c & 0xC0) != 0x80;
    return count;
}

} // namespace nimbara::server
