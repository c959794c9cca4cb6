// A property list in its XML form, parsed by libxml2 and walked by element: the readers of the
// ringtone and book lists need the top dictionary, key/value pairs, child elements and texts.
#pragma once

#include <libxml/tree.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace corvane {

class TXmlPlist {
public:
    // Parses the bytes without network access, without loading a DTD or external entities and
    // without substituting entities; libxml2's default depth and text-size limits stay on.
    TXmlPlist(const char* data, size_t size);

    bool Ok() const { return FDoc != nullptr; }
    // Why the parse failed, as libxml2 put it (line and message).
    const std::string& Error() const { return FError; }
    // The first child element of the root when it is a <dict>; null otherwise.
    const xmlNode* TopDict() const;

private:
    struct TFreeDoc {
        void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
    };
    std::unique_ptr<xmlDoc, TFreeDoc> FDoc;
    std::string FError;
};

bool IsElement(const xmlNode* node, const char* name);

// The text directly inside an element (its text and CDATA children). Entity references are
// not followed, so a declared entity can never blow a short text up.
std::string ElementText(const xmlNode* node);

// The child elements of node in document order; text, comments and the like are left out.
std::vector<const xmlNode*> ChildElements(const xmlNode* node);

struct TPlistPair {
    std::string Key;
    const xmlNode* Value;
};

// The key/value pairs of a <dict>, in order, up to the first place where its children stop
// alternating a <key> and a value element; Damaged tells that such a place was reached.
struct TPlistDict {
    std::vector<TPlistPair> Pairs;
    bool Damaged = false;
};
TPlistDict DictPairs(const xmlNode* dict);

}  // namespace corvane
