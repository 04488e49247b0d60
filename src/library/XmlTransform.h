#pragma once

// Shows XML documents the way a browser would: a document that begins with an
// `xml-stylesheet` instruction of type "text/xsl" is transformed by that
// stylesheet (libxslt), its href taken relative to the document's folder.
// Stylesheets may not write files, make folders, or reach the network, and may
// only read files inside the working folder. Any thread (one transform at a time
// per thread; libxslt's globals are set up once).

#include <string>

namespace tw {

struct PageResult {
    std::string html;  // what to show
    bool ok = false;   // false: `html` is a short page saying what failed
};

// Text made safe inside XML or HTML: &, <, > and " escaped.
std::string XmlEscape(const std::string& text);

// Reads the document (a native path) and returns the page to show: the file's
// own text when it names no stylesheet, the transform's output when it does.
PageResult LoadPage(const std::string& path);

}  // namespace tw
