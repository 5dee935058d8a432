#pragma once

#include <juce_core/juce_core.h>

#include <optional>
#include <vector>

/**
    A parsed state document as the restore reads it: elements with their names, their attributes in
    document order (a repeated name stays repeated) and their child elements. Text between elements
    plays no part.
*/
struct DocumentElement
{
    struct Attribute
    {
        juce::String name;
        juce::String value;

        // A long value that needed no unescaping stays where it is in the text it was read from
        // (which outlives the tree): a plugin's base-64 state is decoded from there without a copy.
        const char* raw = nullptr;
        size_t rawLength = 0;

        /** The value's UTF-8 bytes: the raw ones where they were kept, else the value's. */
        const char* bytes() const noexcept { return raw != nullptr ? raw : value.toRawUTF8(); }
        size_t numBytes() const noexcept { return raw != nullptr ? rawLength : value.getNumBytesAsUTF8(); }
        /** The value as text (copies a raw value). */
        juce::String text() const { return raw != nullptr ? juce::String::fromUTF8(raw, (int) rawLength) : value; }
    };

    juce::String name;
    std::vector<Attribute> attributes;
    std::vector<DocumentElement> children;

    /** The first child of that name, or null. */
    const DocumentElement* firstChildNamed(const juce::String& childName) const noexcept;
};

/**
    Reads a state document from its UTF-8 text: size bytes, or up to the first zero byte. Bytes that
    are not well-formed UTF-8 read as U+FFFD.

    It reads the form the writer makes, with any layout of white space: the declaration, elements,
    double-quoted attributes, the five named and the numeric character references, white space
    between elements. That is every document a host hands back. Anything else (comments, text,
    single quotes, a DOCTYPE...) is refused, and so are elements nested deeper than any state
    document goes. The framework's own parser is not used for state documents: damaged text can
    make it read past its end or loop for ever, and a host must never hang on a damaged project.
    The reader reads in one pass over the bytes, without copying a long value.

    Returns nothing when the text is not such a document.
*/
std::optional<DocumentElement> readStateDocument(const char* text, size_t size);
