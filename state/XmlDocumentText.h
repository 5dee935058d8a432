#pragma once

#include <juce_core/juce_core.h>

/**
    Writes an XML document straight into a memory block, byte for byte in the layout of the
    framework's document writer with its default format: the declaration naming version 1.0 and
    UTF-8, CR LF line ends, children indented by two spaces, attribute lists wrapped once a line's
    attributes pass 60 characters, characters outside the writer's legal set escaped (non-ASCII as
    numeric references). The state document is written this way so that a plugin state of many
    megabytes goes from the plugin's block into the document in one pass, with no String or
    element tree in between.

    Usage: begin an element, add its attributes, then either end it empty or open its children,
    write them, and close it. Elements nest; the indentation follows the nesting.
*/
class XmlDocumentText
{
public:
    /** Writes into dest, after what it holds already; reserve is a hint of the bytes to come. */
    XmlDocumentText(juce::MemoryBlock& dest, size_t reserve);

    void beginElement(const char* name);
    void attribute(const char* name, const juce::String& value);
    void attribute(const char* name, int value);

    /** An attribute whose value is written by fill into exactly length bytes that need no escaping. */
    template <typename Fill> void rawAttribute(const char* name, size_t length, Fill&& fill)
    {
        char* valueStart = startAttribute(name, length);
        fill(valueStart);
        finishAttribute(length);
    }

    /** Ends the current element without children ("/>"). */
    void endEmptyElement();
    /** Ends the current element's start tag (">"); its children follow. */
    void openChildren();
    /** Closes the element whose children were opened last. */
    void closeElement();
    /** Ends the document (a last line end) and trims the block to what was written. */
    void finish();

    size_t bytesWritten() const noexcept { return used - start; }

private:
    void write(const char* text, size_t length);
    void write(const char* text) { write(text, std::strlen(text)); }
    void writeSpaces(size_t count);
    void writeEscaped(const juce::String& text);
    char* startAttribute(const char* name, size_t valueLength);
    void finishAttribute(size_t valueLength);
    void wrapIfNeeded();
    char* reserveBytes(size_t count);

    juce::MemoryBlock& block;
    size_t start = 0;
    size_t used = 0;

    struct Open
    {
        juce::String name;
        int indentation = 0;
    };
    juce::Array<Open> openElements; // elements whose children are being written
    juce::String currentName;      // the element whose attributes are being written
    int currentIndentation = 0;
    int lineLength = 0;
    size_t attributeStart = 0;
};
