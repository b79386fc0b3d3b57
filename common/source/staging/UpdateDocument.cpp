// SPDX-License-Identifier: Apache-2.0
// The update document: the File elements that tell the controller what to
// do with a drop box's content, and the inventory-log request document.
#include "UpdateDocument.h"

#include "md5wrapper.h"
#include "zemt.h"

namespace {

const char* const kHeader = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<KAVER_Update>\n";
const char* const kFooter = "</KAVER_Update>\n\n";

// Ordinary names pass unchanged; markup characters become references so a
// name stays text in the controller's parser.
std::string text(const std::string& s) {
    if (s.find_first_of("&<>") == std::string::npos) return s;
    std::string out;
    out.reserve(s.size() + 16);
    for (char c : s) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
    return out;
}

std::string afterLastSlash(const std::string& s) {
    std::string::size_type pos = s.rfind('/');
    return pos == std::string::npos ? s : s.substr(pos + 1);
}

std::string afterFirstSlash(const std::string& s) {
    std::string::size_type pos = s.find('/');
    return pos == std::string::npos ? s : s.substr(pos + 1);
}

std::string beforeFirstSlash(const std::string& s) {
    std::string::size_type pos = s.find('/');
    return pos == std::string::npos ? s : s.substr(0, pos);
}

}  // namespace

void AddCfgHdr(std::ostringstream* xmlStr) {
    KAVER_LOG("Adding the config file header");
    if (xmlStr != nullptr) *xmlStr << kHeader;
}

void AddCfgFtr(std::ostringstream* xmlStr) {
    KAVER_LOG("Adding the config file footer");
    if (xmlStr != nullptr) *xmlStr << kFooter;
}

bool AddCfgEntry(std::ostringstream* xmlStr, cfgEntry file, std::string /*mntPnt*/, bool chunk) {
    try {
        if (xmlStr == nullptr) throw ZEMT_INTERROR;
        std::ostringstream& out = *xmlStr;

        // T names the final place, S the place inside the drop box.
        std::string target = file.dstName;
        if (file.mode == ssib) target = afterLastSlash(file.srcName);
        else if (file.mode == dirdelete) target = file.srcName;
        const std::string source = chunk ? file.srcName : afterFirstSlash(file.dstName);
        const std::string T = text(target);
        const std::string S = text(source);

        out << "\t<File order=\"" << file.order << "\">";
        if (file.mode != signedunzip) out << "<Hash>" << text(file.hash) << "</Hash>";

        switch (file.mode) {
            case filecopy:
            case fileappend:
                out << "<Source>" << S << "</Source><Destination>" << T << "</Destination><Mode>"
                    << (file.mode == filecopy ? "filecopy" : "fileappend") << "</Mode>";
                break;
            case dircopy:
                out << "<SourceKAVER>" << T << "</SourceKAVER>\n<Destination>" << T
                    << "</Destination>\n<Mode>dircopy</Mode>\n";
                break;
            case filemove:
            case dirmove:
                out << "<SourceKAVER>" << text(file.srcName) << "</SourceKAVER>\n<Destination>" << T
                    << "</Destination>\n<Mode>" << (file.mode == filemove ? "filemove" : "dirmove")
                    << "</Mode>\n";
                break;
            case filedelete:
            case dirdelete:
                out << "<Destination>" << T << "</Destination>\n<Mode>"
                    << (file.mode == filedelete ? "filedelete" : "dirdelete") << "</Mode>\n";
                break;
            case dirmake:
                out << "<Destination>" << T << "</Destination><Mode>dirmake</Mode>\n";
                break;
            case ssib:
                out << "<Source>" << T << "</Source>\n<Mode>ssib</Mode>\n";
                break;
            case signedunzip:
                out << "<Source>" << S << "</Source><Destination>" << text(beforeFirstSlash(target))
                    << "/.</Destination><Mode>signedunzip</Mode>";
                break;
            default:
                break;
        }

        if (!target.empty() && file.mode != signedunzip) {
            if (file.algorithm == 0) out << "<Algorithm>SHA1</Algorithm>\n";
            else if (file.algorithm == 1) out << "<Algorithm>MD5</Algorithm>\n";
        }
        out << "</File>\n";
        return true;
    } catch (...) {
        KAVER_LOG("doCopy failed");
        return false;
    }
}

bool CreateRQLConfigFile(std::ostringstream* Stage, std::vector<cfgEntry> queryRequest) {
    if (Stage == nullptr) return false;
    std::ostringstream& out = *Stage;
    out << kHeader;
    for (const cfgEntry& entry : queryRequest) {
        out << "\t<File order=\"" << entry.order << "\">\n";
        switch (entry.mode) {
            case rql_update_records:
                out << "\t\t\t\t<Mode>rql_update_records</Mode>\n"
                       "\t\t\t\t<Source>input.xml</Source>\n";
                break;
            case rql_update_entire_inventory:
                out << "\t\t<Hash>" << text(entry.hash) << "</Hash>\n"
                    << "\t\t<Source>" << text(entry.srcName) << "</Source>\n"
                    << "\t\t<Mode>rql_update_entire_inventory</Mode>\n";
                break;
            case rql_query_history_records:
                out << "\t\t\t\t<Mode>rql_query_history_records</Mode>\n";
                break;
            case rql_query_event_records:
                out << "\t\t\t\t<Mode>rql_query_event_records</Mode>\n";
                break;
            case rql_query_dependency: {
                // The descriptor is hashed now, from the working directory,
                // so the hash matches the file the caller is about to stage.
                static md5wrapper md5;
                out << "\t\t<Source>package.xml</Source>\n"
                    << "\t\t<Hash>" << md5.getHashFromFile("package.xml") << "</Hash>\n"
                    << "\t\t<Mode>rql_query_dependency</Mode>\n";
                break;
            }
            case rql_query_current_records:
            default:
                out << "\t\t\t\t<Mode>rql_query_current_records</Mode>\n";
                break;
        }
        if (entry.algorithm == 0) out << "\t\t<Algorithm>SHA1</Algorithm>\n";
        else if (entry.algorithm == 1) out << "\t\t<Algorithm>MD5</Algorithm>\n";
        out << "\t</File>\n";
    }
    out << kFooter;
    return true;
}
