#include "state/StateDocumentReader.h"

#include <cstring>
#include <string>

namespace
{
constexpr int maxDepth = 64;                // a state document is three levels deep
constexpr size_t rawValueThreshold = 256;   // longer plain values are not copied

bool isSpace(char c) noexcept
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool isNameStart(char c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':';
}

bool isNameChar(char c) noexcept
{
    return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

/** The plain form: anything outside it makes the reader give up and leave the text to the framework. */
class PlainReader
{
public:
    PlainReader(const char* text, size_t size, bool keepRawValues)
        : p(text), end(text + size), keepRaw(keepRawValues)
    {
    }

    std::optional<DocumentElement> read()
    {
        skipSpace();
        if (startsWith("<?xml"))
        {
            const auto* close = find("?>");
            if (close == nullptr)
                return std::nullopt;
            p = close + 2;
            skipSpace();
        }

        DocumentElement root;
        if (!readElement(root, 0))
            return std::nullopt;

        skipSpace();
        if (p != end)
            return std::nullopt;
        return root;
    }

private:
    void skipSpace() noexcept
    {
        while (p < end && isSpace(*p))
            ++p;
    }

    bool startsWith(const char* literal) const noexcept
    {
        const auto length = std::strlen(literal);
        return (size_t) (end - p) >= length && std::memcmp(p, literal, length) == 0;
    }

    const char* find(const char* literal) const noexcept
    {
        const auto length = std::strlen(literal);
        for (const char* at = p; (size_t) (end - at) >= length; ++at)
            if (std::memcmp(at, literal, length) == 0)
                return at;
        return nullptr;
    }

    bool readName(juce::String& name)
    {
        if (p >= end || !isNameStart(*p))
            return false;
        const auto* start = p;
        while (p < end && isNameChar(*p))
            ++p;
        name = juce::String(start, (size_t) (p - start));
        return true;
    }

    bool readElement(DocumentElement& element, int depth)
    {
        if (depth > maxDepth || p >= end || *p != '<')
            return false;
        ++p;
        if (!readName(element.name))
            return false;

        for (;;)
        {
            const auto* beforeSpace = p;
            skipSpace();
            if (p >= end)
                return false;

            if (*p == '/')
            {
                if (!startsWith("/>"))
                    return false;
                p += 2;
                return true;
            }

            if (*p == '>')
            {
                ++p;
                return readChildren(element, depth);
            }

            if (p == beforeSpace) // attributes are separated by white space
                return false;

            DocumentElement::Attribute attribute;
            if (!readName(attribute.name))
                return false;
            skipSpace();
            if (p >= end || *p != '=')
                return false;
            ++p;
            skipSpace();
            if (!readValue(attribute))
                return false;
            element.attributes.push_back(std::move(attribute));
        }
    }

    bool readChildren(DocumentElement& element, int depth)
    {
        for (;;)
        {
            skipSpace();
            if (startsWith("</"))
            {
                p += 2;
                juce::String closing;
                if (!readName(closing) || closing != element.name)
                    return false;
                skipSpace();
                if (p >= end || *p != '>')
                    return false;
                ++p;
                return true;
            }

            DocumentElement child;
            if (!readElement(child, depth + 1))
                return false;
            element.children.push_back(std::move(child));
        }
    }

    bool readValue(DocumentElement::Attribute& attribute)
    {
        if (p >= end || *p != '"')
            return false;
        ++p;
        const auto* start = p;
        bool plain = true;

        while (p < end && *p != '"')
        {
            if (*p == '<')
                return false;
            if (*p == '&')
                plain = false;
            ++p;
        }
        if (p >= end)
            return false;

        const auto* stop = p++;
        const auto length = (size_t) (stop - start);

        if (plain)
        {
            if (keepRaw && length >= rawValueThreshold)
            {
                attribute.raw = start;
                attribute.rawLength = length;
            }
            else
            {
                attribute.value = juce::String::fromUTF8(start, (int) length);
            }
            return true;
        }

        return unescape(start, stop, attribute.value);
    }

    static bool unescape(const char* from, const char* to, juce::String& result)
    {
        juce::MemoryOutputStream out;
        while (from < to)
        {
            const auto* amp = static_cast<const char*>(std::memchr(from, '&', (size_t) (to - from)));
            if (amp == nullptr)
            {
                out.write(from, (size_t) (to - from));
                break;
            }
            out.write(from, (size_t) (amp - from));

            const auto* semicolon = static_cast<const char*>(std::memchr(amp, ';', (size_t) (to - amp)));
            if (semicolon == nullptr)
                return false;
            const auto entity = juce::String::fromUTF8(amp + 1, (int) (semicolon - amp - 1));

            juce::juce_wchar character = 0;
            if (entity == "amp")
                character = '&';
            else if (entity == "quot")
                character = '"';
            else if (entity == "apos")
                character = '\'';
            else if (entity == "lt")
                character = '<';
            else if (entity == "gt")
                character = '>';
            else if (!numericCharacter(entity, character))
                return false;

            char encoded[8] = {};
            const auto length = juce::CharPointer_UTF8(encoded).getBytesRequiredFor(character);
            juce::CharPointer_UTF8(encoded).write(character);
            out.write(encoded, length);
            from = semicolon + 1;
        }

        result = juce::String::fromUTF8(static_cast<const char*>(out.getData()), (int) out.getDataSize());
        return true;
    }

    static bool numericCharacter(const juce::String& entity, juce::juce_wchar& character)
    {
        if (!entity.startsWithChar('#') || entity.length() < 2)
            return false;

        const bool hex = entity[1] == 'x';
        const auto digits = entity.substring(hex ? 2 : 1);
        if (digits.isEmpty() || digits.length() > (hex ? 6 : 7)
            || !digits.containsOnly(hex ? "0123456789abcdefABCDEF" : "0123456789"))
            return false;

        const auto code = hex ? digits.getHexValue32() : digits.getIntValue();
        if (code <= 0 || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;

        character = (juce::juce_wchar) code;
        return true;
    }

    const char* p;
    const char* end;
    bool keepRaw;
};

} // namespace

const DocumentElement* DocumentElement::firstChildNamed(const juce::String& childName) const noexcept
{
    for (const auto& child : children)
        if (child.name == childName)
            return &child;
    return nullptr;
}

namespace
{
/** Length of the well-formed UTF-8 sequence at text (shortest form, no surrogates, at most U+10FFFF), or 0. */
size_t utf8SequenceLength(const unsigned char* text, size_t available) noexcept
{
    const auto lead = text[0];
    if (lead < 0x80)
        return 1;

    size_t length = 0;
    unsigned minimum = 0;
    unsigned code = 0;
    if ((lead & 0xe0) == 0xc0) { length = 2; minimum = 0x80; code = lead & 0x1fu; }
    else if ((lead & 0xf0) == 0xe0) { length = 3; minimum = 0x800; code = lead & 0x0fu; }
    else if ((lead & 0xf8) == 0xf0) { length = 4; minimum = 0x10000; code = lead & 0x07u; }
    else return 0;

    if (length > available)
        return 0;

    for (size_t i = 1; i < length; ++i)
    {
        if ((text[i] & 0xc0) != 0x80)
            return 0;
        code = (code << 6) | (text[i] & 0x3fu);
    }

    if (code < minimum || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
        return 0;
    return length;
}

bool isWellFormedUtf8(const char* text, size_t size) noexcept
{
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < size;)
    {
        const auto length = utf8SequenceLength(bytes + i, size - i);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

/**
    The text with every byte that is not part of well-formed UTF-8 replaced by U+FFFD. The
    framework's UTF-8 reading trusts its input and can step past the end of malformed text.
*/
std::string repairedUtf8(const char* text, size_t size)
{
    std::string repaired;
    repaired.reserve(size + 16);
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < size;)
    {
        const auto length = utf8SequenceLength(bytes + i, size - i);
        if (length == 0)
        {
            repaired += "\xEF\xBF\xBD";
            ++i;
            continue;
        }
        repaired.append(text + i, length);
        i += length;
    }
    return repaired;
}

/** The text ends at its first zero byte, as a C string would. */
size_t textLength(const char* text, size_t size)
{
    const auto* zero = static_cast<const char*>(std::memchr(text, 0, size));
    return zero != nullptr ? (size_t) (zero - text) : size;
}
} // namespace

std::optional<DocumentElement> readStateDocument(const char* text, size_t size)
{
    size = textLength(text, size);

    if (isWellFormedUtf8(text, size))
        return PlainReader(text, size, true).read();

    // Values of a repaired copy cannot stay in place: the copy goes when this returns.
    const auto repaired = repairedUtf8(text, size);
    return PlainReader(repaired.data(), repaired.size(), false).read();
}
