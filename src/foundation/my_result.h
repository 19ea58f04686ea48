#pragma once
// The outcome of a user-level operation (open, import, copy, delete, export): the shared
// OK value, the shared USER_CANCEL value, or an error whose text an alert shows unchanged.

#include <QString>

#include <memory>

namespace orrery {

class MyResult;
using MyResultPtr = std::shared_ptr<const MyResult>;

class MyResult {
 public:
  // An error text from the localisation table, with `desc` for a missing entry.
  MyResult(const QString& key, const QString& desc);

  static const MyResultPtr& OK();           // "No error"
  static const MyResultPtr& USER_CANCEL();  // "User canceled"
  // A new error; a null `desc` is a soft assertion (the error is made all the same).
  static MyResultPtr error(const QString& key, const QString& desc);
  // A new error whose text was already looked up and filled in.
  static MyResultPtr errorWithText(const QString& text);
  // A new error for "mac:error:default" without a default text.
  static MyResultPtr todoError();

  // Identity with the shared values, never text comparison.
  bool isOK() const { return this == OK().get(); }
  bool isError() const { return this != OK().get() && this != USER_CANCEL().get(); }
  const QString& description() const { return mErrorString; }

 private:
  struct Literal {};
  MyResult(Literal, QString text) : mErrorString(std::move(text)) {}

  QString mErrorString;
};

}  // namespace orrery
