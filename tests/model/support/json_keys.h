#pragma once
// Member names handed to the earlier QJsonObject coder as any string view, passed on without
// building a QString for the usual ASCII literal.

#include <QAnyStringView>
#include <QLatin1StringView>
#include <QString>
#include <QStringView>
#include <QUtf8StringView>

#include <type_traits>

namespace orrery::jsonkey {

// Calls `f` with the key as a QLatin1StringView or a QStringView.
template <class F>
decltype(auto) visit(QAnyStringView key, F&& f) {
  return key.visit([&](auto view) -> decltype(auto) {
    using View = std::decay_t<decltype(view)>;
    if constexpr (std::is_same_v<View, QUtf8StringView>) {
      for (char c : view)
        if (static_cast<unsigned char>(c) >= 0x80) return f(QStringView(view.toString()));
      return f(QLatin1StringView(view.data(), view.size()));
    } else {
      return f(view);
    }
  });
}

}  // namespace orrery::jsonkey
