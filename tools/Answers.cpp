// SPDX-License-Identifier: Apache-2.0
// Reading the controller's answer documents (Answers.h), and the rules of a
// dependency check as the commands print them.
#include "Answers.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <iostream>
#include <memory>

namespace zemt_tool {

namespace {

typedef std::unique_ptr<xmlDoc, void (*)(xmlDocPtr)> Document;

Document parse(const std::string& text) {
    // No network, no entity substitution, no external subsets: the answer
    // comes from the controller and is read as data only.
    return Document(xmlReadMemory(text.data(), static_cast<int>(text.size()), "answer.xml", nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING),
                    &xmlFreeDoc);
}

std::string name(const xmlNode* node) { return reinterpret_cast<const char*>(node->name); }

std::string content(const xmlNode* node) {
    std::unique_ptr<xmlChar, void (*)(void*)> text(xmlNodeGetContent(node), xmlFree);
    std::string value = text ? reinterpret_cast<const char*>(text.get()) : "";
    std::string::size_type first = value.find_first_not_of(" \t\r\n");
    std::string::size_type last = value.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? "" : value.substr(first, last - first + 1);
}

Attributes attributesOf(const xmlNode* node) {
    Attributes list;
    for (const xmlAttr* a = node->properties; a != nullptr; a = a->next)
        list.emplace_back(reinterpret_cast<const char*>(a->name), content(reinterpret_cast<const xmlNode*>(a)));
    return list;
}

std::string find(const Attributes& list, const std::string& key) {
    for (const auto& a : list)
        if (a.first == key) return a.second;
    return "";
}

std::string resultWord(const Rule& rule) {
    if (rule.met()) return "met";
    return rule.soft() ? "not met (soft)" : "NOT MET";
}

}  // namespace

std::string attributeOf(const Attributes& attributes, const std::string& name) { return find(attributes, name); }

std::string Record::Get(const std::string& key) const { return find(attributes, key); }

std::string Record::Firmware(const std::string& key) const {
    std::string own = Get(key);
    return !own.empty() || applications.empty() ? own : find(applications.front(), key);
}

bool readRecords(const std::string& document, std::string& root, std::vector<Record>& records,
                 Attributes* rootAttributes) {
    Document doc = parse(document);
    // A document type declaration could define entities that grow without
    // bound when the text is read out: such an answer is shown as it came.
    const xmlNode* top = doc && doc->intSubset == nullptr && doc->extSubset == nullptr
                             ? xmlDocGetRootElement(doc.get())
                             : nullptr;
    if (top == nullptr) return false;
    root = name(top);
    if (rootAttributes != nullptr) *rootAttributes = attributesOf(top);
    for (const xmlNode* n = top->children; n != nullptr; n = n->next) {
        if (n->type != XML_ELEMENT_NODE) continue;
        Record r;
        r.element = name(n);
        r.attributes = attributesOf(n);
        for (const xmlNode* child = n->children; child != nullptr; child = child->next)
            if (child->type == XML_ELEMENT_NODE && name(child) == "Application")
                r.applications.push_back(attributesOf(child));
        if (r.applications.empty()) r.text = content(n);
        records.push_back(r);
    }
    return true;
}

bool readVerdict(const std::string& document, Verdict& verdict) {
    std::string root;
    std::vector<Record> records;
    if (!readRecords(document, root, records)) return false;
    for (const Record& r : records) {
        if (r.element == "status") verdict.status = r.text;
        if (r.element == "Summary") verdict.summary = r.text;
        if (r.element != "Rule") continue;
        verdict.rules.push_back(Rule{r.Get("type"), r.Get("componentID"), r.Get("required"), r.Get("found"),
                                     r.Get("result"), r.text});
    }
    return !verdict.rules.empty();
}

Json jsonRecords(const std::vector<Record>& records) {
    Json list = Json::array();
    for (const Record& r : records) {
        Json record{{"type", r.element}};
        for (const auto& a : r.attributes) record[a.first] = a.second;
        if (!r.applications.empty()) {
            if (!record.contains("componentType")) record["componentType"] = r.Firmware("componentType");
            if (!record.contains("version")) record["version"] = r.Firmware("version");
            Json applications = Json::array();
            for (const Attributes& app : r.applications) {
                Json entry = Json::object();
                for (const auto& a : app) entry[a.first] = a.second;
                applications.push_back(entry);
            }
            record["applications"] = applications;
        }
        if (!r.text.empty()) record["text"] = r.text;
        list.push_back(record);
    }
    return list;
}

void printRules(const Verdict& verdict) {
    for (const Rule& rule : verdict.rules) {
        std::string word = resultWord(rule);
        std::cout << "  " << word << std::string(word.size() < 15 ? 15 - word.size() : 1, ' ')
                  << (rule.sentence.empty() ? rule.type + " " + rule.componentId + ": required " + rule.required +
                                                  ", found " + rule.found
                                            : rule.sentence)
                  << "\n";
    }
    if (!verdict.summary.empty()) std::cout << "Summary: " << verdict.summary << "\n";
}

Json jsonRules(const Verdict& verdict) {
    Json rules = Json::array();
    for (const Rule& r : verdict.rules)
        rules.push_back(Json{{"type", r.type},
                             {"componentID", r.componentId.empty() ? Json(nullptr) : Json(r.componentId)},
                             {"required", r.required},
                             {"found", r.found},
                             {"result", r.result},
                             {"met", r.met()},
                             {"soft", r.soft()},
                             {"text", r.sentence}});
    return rules;
}

}  // namespace zemt_tool
