#include "state/XmlDocumentText.h"

#include <cstring>

namespace
{
constexpr int lineWrapLength = 60;
constexpr const char* newLine = "\r\n";

bool isLegalXmlChar(juce::juce_wchar c) noexcept
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
        || (c < 128 && std::strchr(" .,;:-()_+=?!$#@[]/|*%~{}'\\", (int) c) != nullptr && c != 0);
}
} // namespace

XmlDocumentText::XmlDocumentText(juce::MemoryBlock& dest, size_t reserve) : block(dest)
{
    start = used = block.getSize();
    block.ensureSize(start + reserve + 256, false);
    write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
    write(newLine);
    write(newLine);
}

char* XmlDocumentText::reserveBytes(size_t count)
{
    if (used + count > block.getSize())
        block.ensureSize(juce::jmax(used + count, block.getSize() * 2), false);

    auto* where = static_cast<char*>(block.getData()) + used;
    used += count;
    return where;
}

void XmlDocumentText::write(const char* text, size_t length)
{
    std::memcpy(reserveBytes(length), text, length);
}

void XmlDocumentText::writeSpaces(size_t count)
{
    std::memset(reserveBytes(count), ' ', count);
}

void XmlDocumentText::writeEscaped(const juce::String& text)
{
    for (auto t = text.getCharPointer(); !t.isEmpty();)
    {
        const auto c = t.getAndAdvance();

        if (isLegalXmlChar(c))
        {
            const char ch = (char) c;
            write(&ch, 1);
            continue;
        }

        switch (c)
        {
        case '&': write("&amp;"); break;
        case '"': write("&quot;"); break;
        case '>': write("&gt;"); break;
        case '<': write("&lt;"); break;
        default:
        {
            const auto reference = "&#" + juce::String((int) c) + ";";
            write(reference.toRawUTF8(), reference.getNumBytesAsUTF8());
            break;
        }
        }
    }
}

void XmlDocumentText::beginElement(const char* name)
{
    const int indentation = openElements.isEmpty() ? 0 : openElements.getLast().indentation + 2;

    if (!openElements.isEmpty())
        write(newLine);

    writeSpaces((size_t) indentation);
    write("<");
    write(name);

    currentName = name;
    currentIndentation = indentation;
    lineLength = 0;
}

void XmlDocumentText::wrapIfNeeded()
{
    if (lineLength > lineWrapLength)
    {
        write(newLine);
        writeSpaces((size_t) (currentIndentation + currentName.length() + 1));
        lineLength = 0;
    }
}

void XmlDocumentText::attribute(const char* name, const juce::String& value)
{
    wrapIfNeeded();
    const auto before = used;
    write(" ");
    write(name);
    write("=\"");
    writeEscaped(value);
    write("\"");
    lineLength += (int) (used - before);
}

void XmlDocumentText::attribute(const char* name, int value)
{
    attribute(name, juce::String(value));
}

char* XmlDocumentText::startAttribute(const char* name, size_t valueLength)
{
    wrapIfNeeded();
    attributeStart = used;
    write(" ");
    write(name);
    write("=\"");
    return reserveBytes(valueLength);
}

void XmlDocumentText::finishAttribute(size_t)
{
    write("\"");
    lineLength += (int) (used - attributeStart);
}

void XmlDocumentText::endEmptyElement()
{
    write("/>");
}

void XmlDocumentText::openChildren()
{
    write(">");
    openElements.add({ currentName, currentIndentation });
}

void XmlDocumentText::closeElement()
{
    const auto open = openElements.removeAndReturn(openElements.size() - 1);
    write(newLine);
    writeSpaces((size_t) open.indentation);
    write("</");
    write(open.name.toRawUTF8());
    write(">");
}

void XmlDocumentText::finish()
{
    write(newLine);
    block.setSize(used, false);
}
