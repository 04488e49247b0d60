#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QPrinter>
#include <QPushButton>
#include <cstdio>
#include <filesystem>

#include "AudioConfig.h"
#include "HtmlView.h"
#include "PageDlg.h"
#include "QtTestMain.h"
#include "TempFolder.h"

using namespace tw;
namespace fs = std::filesystem;

namespace {

using tw::test::WaitFor;

class Pages : public test::TempFolderTest {
  protected:
    static std::string Shown(PageDlg& d) {
        EXPECT_TRUE(WaitFor([&] { return d.view()->loaded(); }));
        return d.view()->toPlainText().toStdString();
    }
    static void InstallStylesheet() {
        fs::create_directories("htm");
        fs::copy_file(TONEWELL_DATA "/htm/playlist.xsl", "htm/playlist.xsl");
    }
    VirtualClock clock{{2026, 12, 7, 9, 0, 0}};
    RecordingMessageBox boxes;
};

TEST_F(Pages, TheHelpPageAndItsLinks) {
    fs::create_directories("help");
    fs::copy_file(TONEWELL_DATA "/help/help.htm", "help/help.htm");
    HelpDlg help;
    EXPECT_EQ(help.windowTitle(), "Tonewell Help");
    const std::string text = Shown(help);
    EXPECT_NE(text.find("Tonewell Help"), std::string::npos);
    EXPECT_NE(text.find("When nothing is heard"), std::string::npos);

    // "app:" links, in any case, are not followed: the rest goes to the window.
    test::WriteText("help/other.htm", "<html><body>The other page</body></html>");
    std::vector<std::string> asked;
    help.view()->OnAppLink = [&](const std::string& rest) { asked.push_back(rest); };
    help.view()->setSource(QUrl("APP:refresh"));
    help.view()->setSource(QUrl("app:refresh"));
    help.view()->setSource(QUrl("app:"));
    EXPECT_EQ(asked, (std::vector<std::string>{"refresh", "refresh", ""}));
    EXPECT_NE(help.view()->toPlainText().toStdString().find("When nothing is heard"),
              std::string::npos);
    // An ordinary link is followed, relative to the page.
    help.view()->setSource(QUrl("other.htm"));
    EXPECT_EQ(help.view()->toPlainText(), "The other page");
}

TEST_F(Pages, MissingOrBinaryHelpShowsWhatFailed) {
    {
        HelpDlg help;
        const std::string text = Shown(help);
        EXPECT_NE(text.find("This page cannot be shown"), std::string::npos) << text;
        EXPECT_NE(text.find("help/help.htm"), std::string::npos);
    }
    test::WriteText("help/help.htm", std::string("\x7f"
                                                 "ELF\0\0\x01",
                                                 7));
    HelpDlg help;
    EXPECT_NE(Shown(help).find("not text"), std::string::npos);
}

TEST_F(Pages, ThePlaylistShowsTheNamesAsStoredAndPrints) {
    InstallStylesheet();
    test::WriteText("audio.cfg",
                    "[VOICE]\n30\n10\n0\n\n[MUSIC]\n2\n10\n0\n\n[MUSIC_LIST]\n"
                    "sounds\\Music Tracks\\Jazz & Blues\\Night <Train>.mp3\n"
                    "false 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n"
                    "sounds\\Music Tracks\\Calme\\\"Été\" indien.wav\n"
                    "false 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n.\n\n[VOICE_LIST]\n"
                    "sounds\\Voice Messages\\General\\Welcome.wav\n"
                    "false 2008 1 1 2008 1 1 false 0 0 0 0 0 0\n.\n\n");
    AudioConfig config(clock, boxes);
    config.Load();
    ASSERT_TRUE(config.ExportPlaylist());
    PlaylistDlg playlist;
    EXPECT_EQ(playlist.windowTitle(), "Tonewell Playlist");
    ASSERT_NE(playlist.printButton(), nullptr);
    const std::string text = Shown(playlist);
    const size_t night = text.find("Night <Train>.mp3"),
                 ete = text.find("\"\xC3\x89t\xC3\xA9\" indien.wav");
    EXPECT_NE(text.find("Jazz & Blues"), std::string::npos) << text;
    ASSERT_NE(night, std::string::npos) << text;
    ASSERT_NE(ete, std::string::npos) << text;
    EXPECT_LT(night, ete);                       // play order
    EXPECT_LT(text.find("Welcome.wav"), night);  // voice messages first

    // Printed to a PDF, every name is in it.
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName("playlist.pdf");
    playlist.PrintTo(printer);
    ASSERT_EQ(std::system("pdftotext -enc UTF-8 playlist.pdf playlist.txt"), 0);
    const std::string pdf = test::ReadText("playlist.txt");
    for (const char* name : {"Night <Train>.mp3", "Welcome.wav", "Jazz & Blues", "indien.wav"})
        EXPECT_NE(pdf.find(name), std::string::npos) << name << "\n" << pdf;
}

TEST_F(Pages, StylesheetsThatFailOrReachOutGiveTheErrorPage) {
    auto playlistWith = [](const std::string& href) {
        test::WriteText("playlist.xml",
                        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<?xml-stylesheet "
                        "type=\"text/xsl\" href=\"" +
                            href + "\"?>\n<playlist><voice/><music/></playlist>\n");
    };
    auto shows = [](const char* what) {
        PlaylistDlg d;
        const std::string text = Shown(d);
        EXPECT_NE(text.find("This page cannot be shown"), std::string::npos) << what << text;
        EXPECT_NE(text.find("playlist.xml"), std::string::npos) << what;
    };
    playlistWith("htm/playlist.xsl");
    test::WriteText("htm/playlist.xsl", "<xsl:stylesheet this is not xml");
    shows("broken");
    // A stylesheet outside the working folder is refused, as is one on the network.
    const fs::path outside =
        folder.parent_path() / ("tonewell-outside-" + folder.filename().string() + ".xsl");
    fs::copy_file(TONEWELL_DATA "/htm/playlist.xsl", outside);
    playlistWith(outside.string());
    shows("outside");
    fs::remove(outside);
    playlistWith("http://127.0.0.1:9/playlist.xsl");
    shows("network");
    // One that recurses for ever is ended by libxslt's depth limit.
    test::WriteText(
        "htm/loop.xsl",
        "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
        "<xsl:template match=\"/\"><xsl:call-template name=\"again\"/></xsl:template>"
        "<xsl:template name=\"again\"><xsl:call-template name=\"again\"/></xsl:template>"
        "</xsl:stylesheet>");
    playlistWith("htm/loop.xsl");
    shows("recursion");
}

TEST_F(Pages, AWindowClosedBeforeItsPageArrivedIsNotTouched) {
    InstallStylesheet();
    AudioConfig config(clock, boxes);
    ASSERT_TRUE(config.ExportPlaylist());
    for (int i = 0; i < 20; ++i) {
        auto d = std::make_unique<PlaylistDlg>();
        d.reset();  // before the page came back
    }
    QCoreApplication::processEvents();  // queued pages for views that are gone
}

// A place saved on a screen that is gone (a second monitor unplugged) is brought
// onto this one; a page closed with Escape keeps the place it was left at.
TEST_F(Pages, APlaceOffTheScreenComesBackOntoItAndAClosedPageKeepsItsPlace) {
    const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
    {
        QSettings places(QSettings::IniFormat, QSettings::UserScope, "tonewell", "windows");
        places.setValue("help", QRect(room.right() + 1500, room.bottom() + 900, 5000, 4000));
    }
    {
        HelpDlg help;
        help.show();
        EXPECT_TRUE(room.contains(help.geometry()))
            << help.geometry().x() << "," << help.geometry().y() << " " << help.width() << "x"
            << help.height();
        help.setGeometry(QRect(room.topLeft() + QPoint(10, 20), QSize(300, 250)));
        help.reject();
    }
    HelpDlg again;
    EXPECT_EQ(again.geometry(), QRect(room.topLeft() + QPoint(10, 20), QSize(300, 250)));
}

}  // namespace

int main(int argc, char** argv) {
    return tw::test::RunQtTests(argc, argv);
}
