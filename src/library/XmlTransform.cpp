#include "XmlTransform.h"

#include <libexslt/exslt.h>
#include <libxml/parser.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>

#include "AtomicFile.h"
#include "Log.h"

namespace tw {
namespace {

PageResult Failure(const std::string& file, const std::string& why) {
    Log("error - cannot show %s (%s)", file.c_str(), why.c_str());
    return {"<html><body><h2>This page cannot be shown</h2><p>" + XmlEscape(file) + ": " +
                XmlEscape(why) + "</p></body></html>",
            false};
}

// Files a stylesheet reads must lie inside the working folder.
int ReadInsideWorkingFolder(xsltSecurityPrefsPtr, xsltTransformContextPtr, const char* value) {
    std::error_code ec;
    const auto here = std::filesystem::weakly_canonical(std::filesystem::current_path(), ec);
    std::string path = value ? value : "";
    if (path.rfind("file://", 0) == 0) path = path.substr(7);
    const auto target = std::filesystem::weakly_canonical(path, ec);
    if (ec) return 0;
    const auto rel = target.lexically_relative(here);
    return !rel.empty() && rel.native().rfind("..", 0) != 0 ? 1 : 0;
}

xsltSecurityPrefsPtr Policy() {
    static xsltSecurityPrefsPtr prefs = [] {
        xmlInitParser();
        exsltRegisterAll();  // the date functions, for the playlist's date
        xsltSecurityPrefsPtr p = xsltNewSecurityPrefs();
        xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
        xsltSetSecurityPrefs(p, XSLT_SECPREF_READ_FILE, ReadInsideWorkingFolder);
        xsltSetDefaultSecurityPrefs(p);  // also guards loading the stylesheet itself
        return p;
    }();
    return prefs;
}

// Errors from libxml2 and libxslt, gathered for the error page.
thread_local std::string* g_errors = nullptr;
void Collect(void*, const char* format, ...) {
    if (!g_errors) return;
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    *g_errors += line;
}

}  // namespace

std::string XmlEscape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

PageResult LoadPage(const std::string& path) {
    std::string text;
    if (!ReadWholeFile(path, text)) return Failure(path, "the file cannot be read");
    if (text.find("<?xml-stylesheet") == std::string::npos) {
        if (text.find('\0') != std::string::npos) return Failure(path, "the file is not text");
        return {text, true};
    }
    static std::mutex once;
    std::lock_guard<std::mutex> hold(once);  // libxslt's error handlers are global
    xsltSecurityPrefsPtr prefs = Policy();
    std::string errors;
    g_errors = &errors;
    xmlSetGenericErrorFunc(nullptr, Collect);
    xsltSetGenericErrorFunc(nullptr, Collect);
    PageResult result;
    xmlDocPtr doc = xmlReadMemory(text.data(), static_cast<int>(text.size()), path.c_str(), nullptr,
                                  XML_PARSE_NONET);
    if (!doc) {
        result = Failure(path, "the document is not well-formed XML. " + errors);
    } else if (xsltStylesheetPtr sheet = xsltLoadStylesheetPI(doc); !sheet) {
        result = Failure(path, "its stylesheet cannot be used. " + errors);
        xmlFreeDoc(doc);
    } else {
        xsltTransformContextPtr ctxt = xsltNewTransformContext(sheet, doc);
        xsltSetCtxtSecurityPrefs(prefs, ctxt);
        xmlDocPtr out = xsltApplyStylesheetUser(sheet, doc, nullptr, nullptr, nullptr, ctxt);
        xmlChar* bytes = nullptr;
        int size = 0;
        if (out && xsltSaveResultToString(&bytes, &size, out, sheet) == 0 && bytes) {
            result = {std::string(reinterpret_cast<char*>(bytes), static_cast<size_t>(size)), true};
        } else {
            result = Failure(path, "the stylesheet failed. " + errors);
        }
        xmlFree(bytes);
        if (out) xmlFreeDoc(out);
        xsltFreeTransformContext(ctxt);
        xsltFreeStylesheet(sheet);
        xmlFreeDoc(doc);
    }
    xmlSetGenericErrorFunc(nullptr, nullptr);
    xsltSetGenericErrorFunc(nullptr, nullptr);
    g_errors = nullptr;
    return result;
}

}  // namespace tw
