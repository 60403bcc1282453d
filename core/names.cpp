#include "core.h"

#include <algorithm>

namespace core {

namespace {
constexpr char16_t escapeBase = 0xDC00;

bool isEscape(char16_t c)
{
    return c >= 0xDC80 && c <= 0xDCFF;
}

// Length of the valid UTF-8 sequence at p (strict: no overlongs, no encoded
// surrogates, nothing above U+10FFFF), or 0 when it is not valid.
int validSequence(const unsigned char *p, const unsigned char *end, char32_t &cp)
{
    const unsigned char b = p[0];
    int len;
    char32_t min;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
        len = 2, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (end - p < len)
        return 0;
    for (int i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    return len;
}
} // namespace

QString decodeName(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    const auto *q = p;
    while (q < end && *q < 0x80)
        ++q;
    if (q == end)
        return QString::fromLatin1(bytes);

    QString out;
    out.reserve(bytes.size());
    out.append(QLatin1StringView(bytes.first(q - p)));
    while (q < end) {
        char32_t cp;
        const int len = validSequence(q, end, cp);
        if (len == 0) {
            out.append(QChar(char16_t(escapeBase + *q)));
            ++q;
            continue;
        }
        if (cp >= 0x10000) {
            out.append(QChar(QChar::highSurrogate(cp)));
            out.append(QChar(QChar::lowSurrogate(cp)));
        } else {
            out.append(QChar(char16_t(cp)));
        }
        q += len;
    }
    return out;
}

QByteArray encodeName(const QString &name)
{
    QByteArray out;
    out.reserve(name.size() * 3);
    const qsizetype n = name.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = name.at(i).unicode();
        char32_t cp = c;
        if (isEscape(c)) {
            out.append(char(c - escapeBase));
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n &&
            QChar::isLowSurrogate(name.at(i + 1).unicode())) {
            cp = QChar::surrogateToUcs4(c, name.at(i + 1).unicode());
            ++i;
        } else if (QChar::isSurrogate(c)) {
            cp = 0xFFFD; // a stray half of a pair has no bytes of its own
        }
        if (cp < 0x80) {
            out.append(char(cp));
        } else if (cp < 0x800) {
            out.append(char(0xC0 | (cp >> 6)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.append(char(0xE0 | (cp >> 12)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else {
            out.append(char(0xF0 | (cp >> 18)));
            out.append(char(0x80 | ((cp >> 12) & 0x3F)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

bool hasEscapedBytes(const QString &name)
{
    return std::any_of(name.begin(), name.end(), [](QChar c) { return isEscape(c.unicode()); });
}

QString displayName(const QString &name)
{
    // Control characters as their visible symbols (U+2400 + c, U+2421 for DEL),
    // so that a name with a line break still shows as one name on one line.
    QString shown = name;
    for (QChar &c : shown) {
        const char16_t u = c.unicode();
        if (isEscape(u))
            c = QChar(QChar::ReplacementCharacter);
        else if (u < 0x20)
            c = QChar(char16_t(0x2400 + u));
        else if (u == 0x7f)
            c = QChar(char16_t(0x2421));
    }
    return shown;
}

} // namespace core
