// The exported web page and presentation shown by a real browser engine (Qt WebEngine, which
// is Chromium): every idea's caption is drawn in the colour a disc of the idea's colour gives
// its title, and reads against it. In a program of its own: only it loads the engine.

#include "editor/planet_drawer.h"
#include "export/web_exporter.h"
#include "export/zip/zip_archive.h"
#include "export_test_support.h"
#include "foundation/globals.h"
#include "loopback_http_server.h"
#include "model/color_theme.h"
#include "platform/ui/web_view.h"
#include "platform/ui/window.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>

namespace orrery {
namespace {

// Reads each shown idea's background and caption colours, slide by slide in a presentation;
// then again after adding the style sheet %1.
const char kCollectColours[] = R"JS((function () {
  function read() {
    var found = [];
    var boxes = document.querySelectorAll(".idea");
    for (var i = 0; i < boxes.length; i++) {
      var caption = boxes[i].querySelector(".title, .link");
      if (!caption) continue;
      found.push({ text: caption.textContent, background: getComputedStyle(boxes[i]).backgroundColor,
                   color: getComputedStyle(caption).color });
    }
    return found;
  }
  function collect() {
    var stage = document.getElementById("presentation");
    if (stage.hidden) return read();
    var count = Orrery.flatten(globalOrreryData.rootIdea).length;
    for (var i = 0; i < count; i++) stage.querySelector(".back").click();
    var all = read();
    for (var j = 1; j < count; j++) { stage.querySelector(".next").click(); all = all.concat(read()); }
    return all;
  }
  var plain = collect();
  var style = document.createElement("style");
  style.textContent = %1;
  document.head.appendChild(style);
  window.webkit.messageHandlers.colours.postMessage({ plain: plain, more: collect() });
})();
)JS";

QColor cssColour(const QString& text) {
  static const QRegularExpression rgb(R"(rgba?\((\d+),\s*(\d+),\s*(\d+))");
  const auto m = rgb.match(text);
  return m.hasMatch() ? QColor(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt()) : QColor();
}

// WCAG's contrast ratio of two opaque colours.
double contrastRatio(const QColor& a, const QColor& b) {
  auto luminance = [](const QColor& c) {
    auto channel = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
  };
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool near(const QColor& a, const QColor& b) {
  return std::abs(a.red() - b.red()) <= 1 && std::abs(a.green() - b.green()) <= 1 && std::abs(a.blue() - b.blue()) <= 1;
}

// Sets the engine module this build made, unless the environment names one.
struct BuiltWebModule {
  QByteArray previous = qgetenv("ORRERY_WEB_MODULE");
  BuiltWebModule() {
    if (previous.isEmpty()) qputenv("ORRERY_WEB_MODULE", ORRERY_TEST_WEB_MODULE);
  }
  ~BuiltWebModule() {
    if (previous.isEmpty()) qunsetenv("ORRERY_WEB_MODULE");
  }
};

// Exports `root` in `style`, shows the page and answers what kCollectColours posted.
QJsonObject coloursShown(const IdeaPtr& root, WebExportStyle style, const QString& folder) {
  std::optional<MyResultPtr> result;
  WebExporter::saveWebExportFrom(root, style, folder + "/map.zip", [&](const MyResultPtr& r) { result = r; });
  EXPECT_TRUE(exporttest::waitFor([&] { return result.has_value(); }));
  EXPECT_TRUE(result && (*result)->isOK());
  ZipError error;
  EXPECT_TRUE(ZipArchive::unzipFileAtPath(folder + "/map.zip", folder + "/page", &error));

  // Served over loopback HTTP: the engine lets a file: page load no other file.
  testsupport::LoopbackHttpServer server;
  const QDir page(folder + "/page");
  for (QDirIterator it(page.path(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
    QFile file(it.next());
    if (!file.open(QIODevice::ReadOnly)) continue;
    testsupport::LoopbackHttpServer::Response response;
    const QString suffix = QFileInfo(file.fileName()).suffix();
    response.contentType = suffix == "js"    ? "text/javascript; charset=utf-8"
                           : suffix == "css" ? "text/css; charset=utf-8"
                           : suffix == "png" ? "image/png"
                                             : "text/html; charset=utf-8";
    response.body = file.readAll();
    server.setResponse("/" + page.relativeFilePath(file.fileName()), response);
  }
  auto view = platform::WebView::create();
  if (!view) return {};
  platform::Window window(QSizeF(1000, 700));
  window.contentView()->addSubview(view);
  view->setFrame(QRectF(0, 0, 1000, 700));
  std::optional<QString> posted;
  view->addScriptMessageHandler(QStringLiteral("colours"), [&](const QString& body) { posted = body; });
  // The page's style sheet with its rules for viewers who ask for more contrast applied as if
  // they had asked.
  QFile css(folder + "/page/include/orrery.css");
  EXPECT_TRUE(css.open(QIODevice::ReadOnly));
  const QString asked = QString::fromUtf8(css.readAll()).replace("(prefers-contrast: more)", "all");
  const QByteArray literal = QJsonDocument(QJsonArray{asked}).toJson(QJsonDocument::Compact);
  view->addUserScript(QString::fromUtf8(kCollectColours).arg(QString::fromUtf8(literal.mid(1, literal.size() - 2))),
                      /*atDocumentEnd=*/true, /*mainFrameOnly=*/true);
  window.makeKeyAndOrderFront();
  view->loadURL(server.url("/index.html"));
  QDeadlineTimer cap(60000);
  while (!posted && !cap.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    uitest::advance(0);
  }
  EXPECT_TRUE(posted.has_value()) << "the page never reported its colours";
  return posted ? QJsonDocument::fromJson(posted->toUtf8()).object() : QJsonObject();
}

TEST(WebPageInABrowser, CaptionsTakeTheColourADiscOfTheIdeasColourGivesItsTitle) {
  BuiltWebModule module;
  if (!platform::WebView::create()) GTEST_SKIP() << "no web engine: " << platform::webEngineLoadError().toStdString();
  // One idea of every theme colour, the dark ones (maroon, navy, dark red) among them.
  std::map<QString, ColorPtr> colours;
  IdeaPtr root = Idea::createWithText("Palette");
  for (const auto* themes : {&ColorTheme::standardThemes(), &ColorTheme::brightColorThemes()})
    for (const auto& theme : *themes)
      for (const ColorPtr& colour : theme->colors()) {
        IdeaPtr idea = Idea::createWithText(colour->name());
        idea->setColor(colour);
        root->addIdea(idea);
        colours[colour->name()] = colour;
      }
  const bool highContrast = Globals::highContrastText();
  std::map<bool, std::map<QString, QColor>> discTitles;
  for (const bool on : {false, true}) {
    Globals::setHighContrastText(on);
    for (const auto& [name, colour] : colours) discTitles[on][name] = PlanetDrawer::titleColorOn(colour);
  }
  Globals::setHighContrastText(highContrast);

  for (const WebExportStyle style : {WebExportStyle(2), WebExportStyle(0)}) {
    const std::string page = style == 0 ? "presentation" : "web page";
    QTemporaryDir dir;
    const QJsonObject shown = coloursShown(root, style, dir.path());
    for (const bool more : {false, true}) {
      std::map<QString, int> seen;
      for (const QJsonValue& entry : shown[more ? "more" : "plain"].toArray()) {
        const QString name = entry["text"].toString();
        if (!colours.count(name)) continue;
        ++seen[name];
        const QColor background = cssColour(entry["background"].toString());
        const QColor caption = cssColour(entry["color"].toString());
        const std::string where = page + ", " + name.toStdString() + (more ? ", more contrast" : "");
        EXPECT_TRUE(near(background, colours[name]->uiColor()))
            << where << ": " << entry["background"].toString().toStdString();
        EXPECT_TRUE(near(caption, discTitles[more][name]))
            << where << ": caption " << entry["color"].toString().toStdString();
        // The dark colours the captions were lost on read at the level text asks for.
        if (colours[name]->hsva().v <= 0.5) {
          EXPECT_GE(contrastRatio(caption, background), 4.5) << where;
        }
      }
      EXPECT_EQ(seen.size(), colours.size()) << page << (more ? ", more contrast" : "");
    }
  }
}

}  // namespace
}  // namespace orrery
