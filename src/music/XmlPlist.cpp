#include "music/XmlPlist.h"

#include <libxml/parser.h>

#include <climits>
#include <cstring>
#include <mutex>

#include "base/Text.h"

namespace corvane {

namespace {

struct TFreeParserCtxt {
    void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};

// No XML_PARSE_NOENT (entities stay references), no XML_PARSE_DTDLOAD (the DTD named in every
// plist header is never fetched) and no XML_PARSE_HUGE (libxml2 keeps its depth limit).
constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;

const char* Text(const xmlChar* text) {
    return reinterpret_cast<const char*>(text);
}

}  // namespace

TXmlPlist::TXmlPlist(const char* data, size_t size) {
    static std::once_flag init;
    std::call_once(init, [] { xmlInitParser(); });
    if (size > static_cast<size_t>(INT_MAX)) {
        FError = "too large";
        return;
    }
    std::unique_ptr<xmlParserCtxt, TFreeParserCtxt> ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        FError = "no parser";
        return;
    }
    FDoc.reset(xmlCtxtReadMemory(ctxt.get(), data, static_cast<int>(size), nullptr, nullptr,
                                 kParseOptions));
    if (FDoc)
        return;
    const xmlError* error = xmlCtxtGetLastError(ctxt.get());
    if (error != nullptr && error->message != nullptr) {
        FError = "line " + std::to_string(error->line) + ": " + Trim(error->message);
    } else {
        FError = "no document";
    }
}

const xmlNode* TXmlPlist::TopDict() const {
    if (!FDoc)
        return nullptr;
    const xmlNode* root = xmlDocGetRootElement(FDoc.get());
    if (root == nullptr)
        return nullptr;
    const xmlNode* first = xmlFirstElementChild(const_cast<xmlNode*>(root));
    return IsElement(first, "dict") ? first : nullptr;
}

bool IsElement(const xmlNode* node, const char* name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE && node->name != nullptr &&
           std::strcmp(Text(node->name), name) == 0;
}

std::string ElementText(const xmlNode* node) {
    std::string text;
    if (node == nullptr)
        return text;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
            child->content != nullptr) {
            text += Text(child->content);
        }
    }
    return text;
}

std::vector<const xmlNode*> ChildElements(const xmlNode* node) {
    std::vector<const xmlNode*> children;
    if (node == nullptr)
        return children;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if (child->type == XML_ELEMENT_NODE)
            children.push_back(child);
    }
    return children;
}

TPlistDict DictPairs(const xmlNode* dict) {
    TPlistDict result;
    std::vector<const xmlNode*> children = ChildElements(dict);
    size_t i = 0;
    for (; i + 1 < children.size(); i += 2) {
        if (!IsElement(children[i], "key") || IsElement(children[i + 1], "key"))
            break;
        result.Pairs.push_back({ElementText(children[i]), children[i + 1]});
    }
    result.Damaged = i != children.size();
    return result;
}

}  // namespace corvane
