#include "app/about_window.h"
#include "app/legal_notices_window.h"
#include "app/preferences_panes.h"
#include "app/preferences_window_controller.h"
#include "app/window_placement.h"
#include "foundation/views/base_scroll_view.h"
#include "foundation/views/text_label.h"
#include "foundation/views/text_view.h"
#include "platform/ui/layer.h"
#include "platform/services/url_opener.h"
#include "platform/ui/event.h"
#include "platform/ui/image_view.h"
#include "platform/ui/native_host_view.h"
#include "shell/bundle_info.h"
#include "platform/services/resources.h"
#include "platform/ui/window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMainWindow>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextBlock>
#include <QTextFrame>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

using namespace orrery;

TEST(Dialogs, EscapeClosesEveryDialogWhereverTheFocusIs) {
  PreferencesWindowController preferences(
      {std::make_shared<GeneralPreferencesViewController>(), std::make_shared<AdvancedPreferencesViewController>()},
      QStringLiteral("Preferences"));
  struct Case {
    const char* name;
    std::function<platform::Window&()> show;
  };
  const Case cases[] = {
      {"About", []() -> platform::Window& { return AboutWindow::show(); }},
      {"Legal Notices", []() -> platform::Window& { return LegalNoticesWindow::show(); }},
      {"Preferences",
       [&]() -> platform::Window& {
         preferences.showWindow();
         return preferences.window();
       }},
  };
  for (const Case& c : cases) {
    platform::Window& window = c.show();
    ASSERT_TRUE(window.isVisible()) << c.name;
    // The key as the desktop delivers it: to the focused control, else to the window.
    QWidget* focus = window.widget()->focusWidget();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(focus ? focus : window.canvas(), &escape);
    EXPECT_FALSE(window.isVisible()) << c.name;
  }
}

TEST(LegalNotices, OneWindowKeptWhereItWasLeftAndCentredInTheAvailableArea) {
  platform::Window& first = LegalNoticesWindow::show();
  EXPECT_EQ(first.title(), "Legal Notices");
  EXPECT_EQ(first.contentSize(), QSizeF(540, 440));
  first.setFrameOrigin(QPointF(33, 44));
  first.performClose();
  EXPECT_FALSE(first.isVisible());
  platform::Window& again = LegalNoticesWindow::show();
  EXPECT_EQ(&again, &first);
  EXPECT_TRUE(again.isVisible());
  EXPECT_EQ(again.frame().topLeft(), QPointF(33, 44));
  EXPECT_TRUE(LegalNoticesWindow::view()->textView().text().startsWith("LEGAL NOTICES"));
  again.orderOut();
  // A second screen or a panel moves the centre with the area's origin.
  EXPECT_EQ(placement::centredOrigin(QSizeF(540, 440), QRectF(1440, 28, 1920, 1052)), QPointF(2130, 334));
  EXPECT_EQ(placement::centredOrigin(QSizeF(540, 440), QRectF()), QPointF(0, 0));
}

TEST(LegalNotices, UnreadableOrBadTextShowsAnErrorOrReplacementCharacters) {
  EXPECT_EQ(LegalNoticesView::loadText(QString()), "(error occurred loading resource file)");
  EXPECT_EQ(LegalNoticesView::loadText("/nonexistent/legal.txt"), "(error occurred loading resource file)");
  QTemporaryDir dir;
  QFile bad(dir.filePath("legal.txt"));
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("caf\xC3\xA9 \xFF\xFE end");
  bad.close();
  const QString text = LegalNoticesView::loadText(bad.fileName());
  EXPECT_TRUE(text.startsWith(QString::fromUtf8("café ")));
  EXPECT_TRUE(text.contains(QChar(0xFFFD)));
  EXPECT_TRUE(text.endsWith(" end"));
}

namespace {

// Rows of the window picture holding text (darker than the grey background).
std::vector<int> inkedRows(const QImage& picture, int left, int right) {
  std::vector<int> rows;
  for (int y = 0; y < picture.height(); ++y)
    for (int x = left; x < right; ++x)
      if (qGray(picture.pixel(x, y)) < 120) {
        rows.push_back(y);
        break;
      }
  return rows;
}

}  // namespace

TEST(LegalNotices, LongTextWrapsInsideTheInsetsAndScrollsToItsLastLine) {
  platform::Window& window = LegalNoticesWindow::show();
  LegalNoticesView& view = *LegalNoticesWindow::view();
  const QString saved = view.textView().text();
  QString longText;
  while (longText.size() < 200000) longText += QStringLiteral("word ").repeated(40) + '\n';
  longText += QStringLiteral("THE LAST LINE");
  view.setText(longText);
  window.displayIfNeeded();
  ASSERT_EQ(view.bounds().width(), 540);
  TextView& text = view.textView();
  auto& inner = *text.innerTextView();
  EXPECT_EQ(text.frame().width(), 520) << "the view's width less 20";
  const QSizeF used = inner.usedSize();
  EXPECT_LE(used.width(), 520 - 80) << "every line fits between the insets";
  EXPECT_GT(used.width(), 520 - 80 - 60) << "and uses the width it has";
  EXPECT_DOUBLE_EQ(text.frame().height(), used.height() + 40) << "the insets above and below are part of the view";
  EXPECT_GT(text.frame().height(), platform::Layer::kMaxBackingSide) << "the text is taller than one contents image";

  for (const double scale : {1.0, 2.0}) {
    SCOPED_TRACE(scale);
    inner.layer()->setContentsScale(scale);
    inner.setNeedsDisplay();
    view.scrollView().scrollToPoint(QPointF(0, 0));
    QImage top = window.snapshot(scale);
    EXPECT_FALSE(inkedRows(top, 40 * scale, 480 * scale).empty()) << "the first lines show";
    EXPECT_TRUE(inner.layer()->isTiled());

    // At the far end the last line is drawn, then the bottom inset and nothing else.
    view.scrollView().scrollToPoint(QPointF(0, text.frame().height()));
    const QRectF shown = view.scrollView().documentVisibleRect();
    EXPECT_DOUBLE_EQ(shown.bottom(), text.frame().height());
    const QImage bottom = window.snapshot(scale);
    const std::vector<int> rows = inkedRows(bottom, 40 * scale, 480 * scale);
    ASSERT_FALSE(rows.empty()) << "the end of the text is drawn after scrolling";
    const double lastInk = rows.back() / scale;
    EXPECT_GT(lastInk, 440 - 20 - 20) << "the last line sits just above the bottom inset";
    EXPECT_LT(lastInk, 440 - 20 + 1);
    // "THE LAST LINE" is short: nothing inked past its end on its own row.
    const int lastRow = rows.back();
    int rightmost = 0;
    for (int x = 0; x < bottom.width() - 20 * scale; ++x)
      if (qGray(bottom.pixel(x, lastRow)) < 120) rightmost = x;
    EXPECT_LT(rightmost, 200 * scale) << "the last row is the short closing line, not a full one";

    // Only what is near the view is kept: a 200 KB text at this scale would need dozens of tiles.
    const int perScreen = static_cast<int>(std::ceil(440 * scale / platform::Layer::kTileSide) + 1) *
                          static_cast<int>(std::ceil(520 * scale / platform::Layer::kTileSide) + 1);
    EXPECT_LE(inner.layer()->tileCount(), 3 * perScreen);
  }
  inner.layer()->setContentsScale(window.backingScaleFactor());
  view.setText(saved);
  window.orderOut();
}

// The keys as the desktop delivers them: to the focused control, else to the window.
TEST(LegalNotices, TheKeysScrollTheTextAsItsScrollerDoes) {
  platform::Window& window = LegalNoticesWindow::show();
  LegalNoticesView& view = *LegalNoticesWindow::view();
  window.displayIfNeeded();
  auto& scroll = view.scrollView();
  const double shown = scroll.documentVisibleRect().height();
  const double bottom = scroll.documentView()->frame().height() - shown;
  ASSERT_GT(bottom, 10 * shown) << "the notices are many pages long";
  struct Case {
    Qt::Key key;
    double from;
    double least, most;  // how far down the text it ends up
  };
  const double middle = bottom / 2;
  const Case cases[] = {
      {Qt::Key_End, 0, bottom, bottom},
      {Qt::Key_Home, bottom, 0, 0},
      {Qt::Key_PageDown, middle, middle + shown / 2, middle + shown - 1},  // a line of the last page stays
      {Qt::Key_PageUp, middle, middle - shown + 1, middle - shown / 2},
      {Qt::Key_Down, middle, middle + 1, middle + 40},  // a line
      {Qt::Key_Up, middle, middle - 40, middle - 1},
      {Qt::Key_PageDown, bottom, bottom, bottom},
      {Qt::Key_Up, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QKeySequence(c.key).toString().toStdString() + " from " + std::to_string(c.from));
    scroll.scrollToPoint(QPointF(0, c.from));
    QWidget* focus = window.widget()->focusWidget();
    QKeyEvent press(QEvent::KeyPress, c.key, Qt::NoModifier);
    QApplication::sendEvent(focus ? focus : window.canvas(), &press);
    const double y = scroll.documentVisibleRect().y();
    EXPECT_GE(y, c.least - 0.5);
    EXPECT_LE(y, c.most + 0.5);
  }
  window.orderOut();
}

TEST(LegalNotices, EveryRuleStaysOneLineUnderItsHeading) {
  LegalNoticesView view;
  view.setFrame(QRectF(0, 0, LegalNoticesWindow::kContentSize.width(), LegalNoticesWindow::kContentSize.height()));
  // The text's height with a rule is its height with a short one: the rule took one line.
  auto heightWith = [&](const QString& rule) {
    view.setText(QStringLiteral("Qt 6 (Qt Core, Qt Gui)\n%1\n\nUnder the licence").arg(rule));
    view.applyLayout();
    return view.textView().innerTextView()->usedSize().height();
  };
  const double oneLine = heightWith(QStringLiteral("x"));
  struct Case {
    QChar rule;
    int length;
  };
  for (const Case& c : {Case{'=', 63}, Case{'-', 200}, Case{'#', 12}})
    EXPECT_EQ(heightWith(QString(c.length, c.rule)), oneLine) << c.length << " × " << QString(c.rule).toStdString();
  EXPECT_EQ(LegalNoticesView::fittedRules("a ==== b\n====", QFont(), 1000), "a ==== b\n====")
      << "only whole-line rules";
}

namespace {

// The libraries the program is linked to (as the loader lists them), runtimes left out, each
// with how the legal notices and the about window's credits name it.
struct LinkedLibrary {
  QString library;
  QString notice;
  QString credit;
};

std::vector<LinkedLibrary> linkedLibraries() {
  QProcess readelf;
  readelf.start("readelf", {"-d", ORRERY_BINARY});
  if (!readelf.waitForFinished(60000)) return {};
  const QString dynamic = QString::fromUtf8(readelf.readAllStandardOutput());
  struct Name {
    const char* prefix;
    const char* notice;
    const char* credit;
  };
  const Name names[] = {{"libQt6", "Qt 6", "Qt"},
                        {"libcurl", "libcurl", "libcurl"},
                        {"libssl", "OpenSSL", "OpenSSL"},
                        {"libcrypto", "OpenSSL", "OpenSSL"},
                        {"libz.", "zlib", "zlib"},
                        {"libminizip", "minizip", "minizip"},
                        {"libsimdjson", "simdjson", "simdjson"},
                        {"libpng", "libpng", "libpng"},
                        {"libfontconfig", "fontconfig", "fontconfig"},
                        {"libxcb", "libxcb", "libxcb"},
                        {"libexpat", "Expat XML parser", "Expat"},
                        {"libicu", "International Components for Unicode", "ICU"}};
  const QStringList runtimes{"libstdc++", "libm.", "libgcc_s", "libc.", "ld-linux"};
  std::vector<LinkedLibrary> out;
  static const QRegularExpression kNeeded(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
  for (auto it = kNeeded.globalMatch(dynamic); it.hasNext();) {
    const QString library = it.next().captured(1);
    bool runtime = false;
    for (const QString& prefix : runtimes) runtime |= library.startsWith(prefix);
    if (runtime) continue;
    LinkedLibrary found{library, {}, {}};
    for (const Name& name : names)
      if (library.startsWith(name.prefix)) found = {library, name.notice, name.credit};
    out.push_back(found);
  }
  return out;
}

}  // namespace

TEST(LegalNotices, EveryLinkedLibraryIsNamed) {
  const QString legal = LegalNoticesView::loadText(platform::pathForResource("legal", "txt"));
  const std::vector<LinkedLibrary> linked = linkedLibraries();
  for (const LinkedLibrary& each : linked) {
    ASSERT_FALSE(each.notice.isEmpty()) << "no notice known for " << each.library.toStdString();
    EXPECT_TRUE(legal.contains(each.notice)) << each.library.toStdString();
  }
  EXPECT_GT(linked.size(), 5u);
  for (const char* bundled : {"nlohmann-json", "minizip", "Fonts"}) EXPECT_TRUE(legal.contains(bundled));
}

TEST(About, TheCreditsNameEveryLinkedLibrary) {
  const QString page = AboutView::loadPage(platform::pathForResource("credits", "html"));
  QTextDocument document;
  document.setHtml(page);
  const QString credits = document.toPlainText();
  const std::vector<LinkedLibrary> linked = linkedLibraries();
  EXPECT_GT(linked.size(), 5u);
  for (const LinkedLibrary& each : linked)
    EXPECT_TRUE(!each.credit.isEmpty() &&
                credits.contains(QRegularExpression("\\b" + QRegularExpression::escape(each.credit) + "\\b")))
        << each.library.toStdString();
  EXPECT_TRUE(credits.contains("JSON for Modern C++")) << "built in, not linked";
}

TEST(LegalNotices, NamesEachComponentAndCarriesEveryLicenceTextItsNoticesName) {
  const QString legal = LegalNoticesView::loadText(platform::pathForResource("legal", "txt"));
  const QString flat = legal.simplified();
  for (const char* component : {"Qt 6", "Qt WebEngine", "Chromium", "zlib", "minizip", "libcurl", "OpenSSL",
                                "nlohmann-json", "simdjson", "Noto Color Emoji"})
    EXPECT_TRUE(legal.contains(component)) << component;
  // The licences themselves, not just their names.
  const QList<QPair<const char*, const char*>> texts{
      {"LGPL-3", "GNU LESSER GENERAL PUBLIC LICENSE Version 3, 29 June 2007"},
      {"GPL-3", "GNU GENERAL PUBLIC LICENSE Version 3, 29 June 2007"},
      {"Apache-2.0", "TERMS AND CONDITIONS FOR USE, REPRODUCTION, AND DISTRIBUTION"},
      {"MIT", "Permission is hereby granted, free of charge, to any person obtaining a copy"},
      {"OFL-1.1", "SIL OPEN FONT LICENSE Version 1.1"},
      {"Zlib", "This software is provided 'as-is', without any express or implied warranty."},
      {"curl", "Permission to use, copy, modify, and distribute this software for any purpose with or without fee"}};
  for (const auto& [licence, sentence] : texts) EXPECT_TRUE(flat.contains(sentence)) << licence;
  // A notice that points to a licence text elsewhere on the system finds that text here too.
  static const QRegularExpression kPointer(R"(common-licenses/([A-Za-z][A-Za-z0-9+-]*(?:\.[0-9]+)*))");
  int pointers = 0;
  for (auto it = kPointer.globalMatch(legal); it.hasNext(); ++pointers) {
    const QString name = it.next().captured(1);
    EXPECT_TRUE(legal.contains("Licence text: " + name + "\n")) << name.toStdString();
  }
  EXPECT_GT(pointers, 3);
}

// The window wraps the text to its width: a line break inside a sentence would wrap it a
// second time, leaving a short ragged line before each break.
TEST(LegalNotices, EachParagraphIsOneLineForTheWindowToWrap) {
  const QStringList lines = LegalNoticesView::loadText(platform::pathForResource("legal", "txt")).split('\n');
  static const QRegularExpression kListItem(R"(^\s*(\(?[0-9]{1,2}(\.[0-9]+)*[.)]|\(?[a-zA-Z][.)]|\([ivx]+\)|[-*o])\s)");
  int broken = 0;
  for (int i = 1; i < lines.size(); ++i) {
    const QString& before = lines[i - 1];
    const QString& line = lines[i];
    // A line that goes on in lower case continues the sentence above it.
    if (!before.trimmed().isEmpty() && !before.endsWith(':') && !line.isEmpty() && line[0].isLower() &&
        !kListItem.match(line).hasMatch() && ++broken <= 5)
      ADD_FAILURE() << "line " << i + 1 << " continues the one above: " << line.left(60).toStdString();
  }
  EXPECT_EQ(broken, 0);
  EXPECT_GT(lines.size(), 1000) << "the notices and licence texts are there";
}

TEST(About, OneWindowWithItsVersionLayoutAndCreditsLoadedOnce) {
  platform::Window& window = AboutWindow::show();
  AboutView& view = *AboutWindow::view();
  EXPECT_EQ(window.contentSize(), QSizeF(285, 395));
  QCoreApplication::processEvents();
  ASSERT_EQ(view.bounds().size(), QSizeF(285, 395));
  ASSERT_FALSE(BundleInfo::shortVersionString().isEmpty());
  EXPECT_EQ(view.textLabel().text(), "Orrery v" + BundleInfo::shortVersionString()) << "no blank before the version";
  // Layout: logo centred at (w/2, 70), version 28 below it, page between 170 and h − 44, the
  // copyright and the button on the line h − 22, 15 in from each side.
  EXPECT_DOUBLE_EQ(view.logoView().frame().center().x(), 142.5);
  EXPECT_DOUBLE_EQ(view.logoView().frame().center().y(), 70);
  EXPECT_DOUBLE_EQ(view.textLabel().frame().center().y(), view.logoView().frame().bottom() + 28);
  EXPECT_DOUBLE_EQ(view.textLabel().frame().center().x(), 142.5);
  EXPECT_EQ(view.webView().frame(), QRectF(0, 170, 285, 395 - 170 - 44));
  EXPECT_DOUBLE_EQ(view.copyLabel().frame().left(), 15);
  EXPECT_DOUBLE_EQ(view.copyLabel().frame().center().y(), 395 - 22);
  EXPECT_DOUBLE_EQ(view.buttonView().frame().right(), 285 - 15);
  EXPECT_DOUBLE_EQ(view.buttonView().frame().center().y(), 395 - 22);
  EXPECT_TRUE(view.browser()->toPlainText().contains("Orrery"));
  // Closed and chosen again: the same window where it was left, the page not reloaded.
  window.setFrameOrigin(QPointF(21, 31));
  window.performClose();
  EXPECT_EQ(&AboutWindow::show(), &window);
  EXPECT_EQ(window.frame().topLeft(), QPointF(21, 31));
  EXPECT_EQ(AboutWindow::view(), &view);
  EXPECT_EQ(view.pageLoads(), 1);
  // The cursor is the pointing hand over the button and only there; the button opens the
  // legal notices.
  const QPointF button = view.buttonView().frame().center();
  window.sendEvent(platform::Event::mouse(platform::EventType::MouseMoved, button));
  EXPECT_EQ(window.currentCursor(), platform::Cursor::PointingHand);
  window.sendEvent(platform::Event::mouse(platform::EventType::MouseMoved, QPointF(40, 100)));
  EXPECT_NE(window.currentCursor(), platform::Cursor::PointingHand);
  view.buttonPressed(view.buttonView());
  EXPECT_TRUE(LegalNoticesWindow::show().isVisible());
  LegalNoticesWindow::show().orderOut();
  window.orderOut();
}

// The fonts here are wider than the ones the layout was drawn for: the copyright line and the
// button share the bottom line and must not touch, whatever the line's length.
TEST(About, TheCopyrightLineNeverRunsUnderTheLegalNoticesButton) {
  platform::Window& window = AboutWindow::show();
  AboutView& view = *AboutWindow::view();
  const QString saved = view.copyLabel().text();
  for (const QString& text : {saved, QStringLiteral("© 2026 The Orrery developers and every contributor since")}) {
    SCOPED_TRACE(text.toStdString());
    view.copyLabel().setText(text);
    view.applyLayout();
    const QRectF copy = view.copyLabel().frame(), button = view.buttonView().frame();
    EXPECT_LE(copy.right() + 4, button.left());
    EXPECT_DOUBLE_EQ(copy.left(), 15);
    EXPECT_DOUBLE_EQ(copy.center().y(), 395 - 22);
    EXPECT_DOUBLE_EQ(button.right(), 285 - 15);
    EXPECT_GE(view.copyLabel().fontSize(), 9) << "still readable";
  }
  view.copyLabel().setText(saved);
  view.applyLayout();
  window.orderOut();
}

TEST(About, OnlyWebLinksOpenAndThePageNeverNavigates) {
  std::vector<QUrl> opened;
  auto saved = platform::setURLOpener([&](const QUrl& url) {
    opened.push_back(url);
    return true;
  });
  AboutWindow::show();
  AboutView& view = *AboutWindow::view();
  const QString before = view.browser()->toHtml();
  for (const char* address : {"https://www.qt.io/", "http://example.org/a", "file:///etc/passwd",
                              "javascript:alert(1)", "ftp://example.org/", "HTTPS://EXAMPLE.ORG/"})
    emit view.browser()->anchorClicked(QUrl(address));
  platform::setURLOpener(saved);
  ASSERT_EQ(opened.size(), 3u);
  EXPECT_EQ(opened[0], QUrl("https://www.qt.io/"));
  EXPECT_EQ(opened[2], QUrl("HTTPS://EXAMPLE.ORG/"));
  EXPECT_EQ(view.browser()->toHtml(), before);
  EXPECT_TRUE(view.browser()->source().isEmpty());
  EXPECT_EQ(AboutView::loadPage("/nonexistent/credits.html"), QString()) << "a missing page is an empty page";
  AboutWindow::show().orderOut();
}
