#pragma once
// Text with runs of attributes (font, colour, kerning, paragraph style), laid out with Qt's
// text engine by the label and text views.

#include <QColor>
#include <QFont>
#include <QString>
#include <QTextLayout>

#include <optional>
#include <vector>

namespace platform {

enum class TextAlignment { Left = 0, Right = 1, Center = 2, Justified = 3, Natural = 4 };

struct ParagraphStyle {
  double lineSpacing = 0;         // extra points between lines
  double lineHeightMultiple = 0;  // 0: natural
  double firstLineHeadIndent = 0;
  TextAlignment alignment = TextAlignment::Natural;
};

struct TextAttributes {
  std::optional<QFont> font;
  std::optional<QColor> color;
  std::optional<double> kern;  // extra points between characters
  std::optional<ParagraphStyle> paragraph;
};

class AttributedString {
 public:
  struct Run {
    int start = 0;
    int length = 0;
    TextAttributes attributes;
  };

  AttributedString() = default;
  explicit AttributedString(const QString& text, TextAttributes attributes = {}) { append(text, attributes); }

  void append(const QString& text, const TextAttributes& attributes = {});
  void clear();
  const QString& string() const { return mText; }
  const std::vector<Run>& runs() const { return mRuns; }
  bool isEmpty() const { return mText.isEmpty(); }

  // Qt formats for the runs, with defaults for what a run leaves open.
  QList<QTextLayout::FormatRange> formats(const QFont& defaultFont, const QColor& defaultColor) const;
  // The paragraph style of the first run that has one.
  std::optional<ParagraphStyle> paragraphStyle() const;

 private:
  QString mText;
  std::vector<Run> mRuns;
};

Qt::Alignment qtAlignment(TextAlignment alignment);

}  // namespace platform

class QTextDocument;

namespace platform {

// Fills a document with the text, its runs and paragraph style; `alignment` applies when no
// run carries a paragraph style. The document gets no margin.
void fillTextDocument(QTextDocument& document, const AttributedString& text, const QFont& defaultFont,
                      const QColor& defaultColor, TextAlignment alignment);

}  // namespace platform
