// A small pull reader of XML for the property lists a device writes: it hands out start tags,
// end tags and texts one at a time, keeping nothing but the open elements, so a list of tens of
// thousands of tracks is read without building a document. It checks what makes a document
// well-formed for such lists (one root element, tags that close in order, known entities,
// closed comments and sections) and stops at the first fault with the line it found it on.
// It never fetches a DTD, follows no external entity, and expands declared entities to nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

enum class TXmlEvent {
    Start,  // an element begins; Name() is its name (an empty element gives Start, then End)
    End,    // the element last begun ends
    Text,   // character data inside the root (entities and CDATA resolved); Text() holds it
    Done,   // the document ended well
    Error,  // the document is damaged; Error() says where and why
};

class TXmlPullReader {
public:
    // The bytes stay the caller's and must outlive the reader. A UTF-16 document (by its byte
    // order mark) is read from a UTF-8 copy of its own.
    explicit TXmlPullReader(std::string_view xml);

    TXmlEvent Next();

    std::string_view Name() const { return FName; }
    std::string_view Text() const { return FText; }
    const std::string& Error() const { return FError; }
    // Elements open after the last event (an element's own Start counts it).
    size_t Depth() const { return FOpen.size(); }

    // Deeper documents are refused: no property list nests so far, and the open elements stay
    // few.
    static constexpr size_t kMaxDepth = 256;

private:
    TXmlEvent Fail(const std::string& why);
    TXmlEvent ReadMarkup();
    TXmlEvent ReadStartTag();
    TXmlEvent ReadEndTag();
    TXmlEvent ReadText();
    bool SkipPast(std::string_view end);
    bool SkipDoctype();
    bool ReadName(std::string_view& name);
    bool AppendEntity(std::string& out);
    void SkipBlanks();

    std::string FUtf8;  // the document converted, when it came as UTF-16
    std::string_view FXml;
    size_t FAt = 0;
    std::vector<std::string_view> FOpen;
    std::string_view FName;
    std::string_view FText;
    std::string FDecoded;  // a text with entities or CDATA, when FText cannot point into FXml
    std::string FError;
    bool FRootSeen = false;
    bool FPendingEnd = false;  // an empty element's End comes next
    bool FDeclaredEntities = false;
    bool FFailed = false;
};

}  // namespace corvane
