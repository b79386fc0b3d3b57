/* SPDX-License-Identifier: Apache-2.0 */
// The controller's answer documents as the tool reads them: the records of
// an inventory-log query, and the verdict of a dependency check.  A
// controller may answer in a layout the tool does not know; then nothing is
// recognised and the commands show the document as it is.
#ifndef ZEMT_TOOLS_ANSWERS_H
#define ZEMT_TOOLS_ANSWERS_H

#include <string>
#include <utility>
#include <vector>

#include "Tool.h"

namespace zemt_tool {

typedef std::vector<std::pair<std::string, std::string>> Attributes;

// One record: a Device, Change or Event element (or whatever the root
// holds), its attributes in document order, its text, and the attributes
// of its Application children.
struct Record {
    std::string element;
    Attributes attributes;
    std::string text;
    std::vector<Attributes> applications;

    std::string Get(const std::string& name) const;  // "" when absent
    // A device's firmware: its own attribute, else its first Application's.
    std::string Firmware(const std::string& name) const;
};

// The child elements of the document's root (and, when asked for, the
// root's attributes); false when the document is not well-formed XML or
// declares a document type (it is parsed without network access or entity
// substitution, within libxml2's depth limit).
bool readRecords(const std::string& document, std::string& root, std::vector<Record>& records,
                 Attributes* rootAttributes = nullptr);
// The value of an attribute in a list ("" when it is not there).
std::string attributeOf(const Attributes& attributes, const std::string& name);

// One rule of a dependency-check answer.
struct Rule {
    std::string type, componentId, required, found, result, sentence;
    bool met() const { return result == "met"; }
    bool soft() const { return result.find("soft") != std::string::npos || type == "SoftDependency"; }
};
struct Verdict {
    std::string status;  // the answer's <status>, "" when it has none
    std::vector<Rule> rules;
    std::string summary;
};
// False when the answer holds no rule the tool recognises.
bool readVerdict(const std::string& document, Verdict& verdict);

Json jsonRecords(const std::vector<Record>& records);
// The rules one per line ("  NOT MET        Dependency 21500 ...") and the
// summary, as depcheck prints them.
void printRules(const Verdict& verdict);
Json jsonRules(const Verdict& verdict);

}  // namespace zemt_tool

#endif
