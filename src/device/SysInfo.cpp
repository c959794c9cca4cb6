#include "device/SysInfo.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <climits>
#include <memory>

#include "base/Text.h"

namespace corvane {
namespace {

struct TFreeDoc {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool IsElement(const xmlNode* node, const char* name) {
    return node != nullptr && node->type == XML_ELEMENT_NODE &&
           xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0;
}

const xmlNode* NextElement(const xmlNode* node) {
    while (node != nullptr && node->type != XML_ELEMENT_NODE)
        node = node->next;
    return node;
}

std::string Text(const xmlNode* node) {
    std::string text;
    for (const xmlNode* child = node->children; child != nullptr; child = child->next) {
        if ((child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE) &&
            child->content != nullptr)
            text += reinterpret_cast<const char*>(child->content);
    }
    return text;
}

}  // namespace

std::optional<std::string> SysInfoValue(std::string_view sysInfo, std::string_view key) {
    size_t start = 0;
    while (start < sysInfo.size()) {
        size_t end = sysInfo.find('\n', start);
        if (end == std::string_view::npos)
            end = sysInfo.size();
        const std::string_view line = sysInfo.substr(start, end - start);
        const size_t colon = line.find(':');
        if (colon != std::string_view::npos && Trim(line.substr(0, colon)) == key)
            return Trim(line.substr(colon + 1));
        start = end + 1;
    }
    return std::nullopt;
}

std::optional<std::string> SysInfoExtendedValue(std::string_view xml, std::string_view key) {
    if (xml.empty() || xml.size() > INT_MAX)
        return std::nullopt;
    // No network, no DTD and no entity substitution: the text comes from the device.
    std::unique_ptr<xmlDoc, TFreeDoc> doc(
        xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
    if (!doc)
        return std::nullopt;
    const xmlNode* root = xmlDocGetRootElement(doc.get());
    const xmlNode* dict = root != nullptr ? NextElement(root->children) : nullptr;
    if (!IsElement(root, "plist") || !IsElement(dict, "dict"))
        return std::nullopt;
    for (const xmlNode* node = NextElement(dict->children); node != nullptr;
         node = NextElement(node->next)) {
        const xmlNode* value = NextElement(node->next);
        if (!IsElement(node, "key") || value == nullptr)
            return std::nullopt;
        if (Text(node) == key) {
            if (IsElement(value, "string") || IsElement(value, "integer"))
                return Trim(Text(value));
            return std::nullopt;
        }
        node = value;
    }
    return std::nullopt;
}

const TIpodModel* IdentifyModel(std::string_view sysInfo, std::string_view sysInfoExtended) {
    if (auto serial = SysInfoExtendedValue(sysInfoExtended, "SerialNumber")) {
        if (const TIpodModel* model = FindModelBySerial(*serial))
            return model;
    }
    if (auto number = SysInfoValue(sysInfo, "ModelNumStr")) {
        if (const TIpodModel* model = FindModelByNumber(*number))
            return model;
    }
    if (auto serial = SysInfoValue(sysInfo, "pszSerialNumber"))
        return FindModelBySerial(*serial);
    return nullptr;
}

}  // namespace corvane
