#include "model/document_memory_bound.h"

#include <algorithm>

namespace orrery {

DocumentMemoryBound::DocumentMemoryBound(qint64 fileBytes)
    : mBudget(std::max(kMinBudget, std::max<qint64>(fileBytes, 0) * kBudgetPerFileByte)) {}

bool DocumentMemoryBound::add(std::string_view text) {
  mTextBytes += qint64(text.size());
  // Objects are counted outside strings only: a text full of braces is no tree.
  for (const char c : text) {
    if (mInString) {
      if (mEscaped)
        mEscaped = false;
      else if (c == '\\')
        mEscaped = true;
      else if (c == '"')
        mInString = false;
    } else if (c == '"') {
      mInString = true;
    } else if (c == '{') {
      ++mObjects;
    }
  }
  return withinBudget();
}

}  // namespace orrery
