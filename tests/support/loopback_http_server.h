#pragma once
// A plain HTTP server on 127.0.0.1 for tests that load pages: fixed pages, redirects, requests
// that are never answered, and a "/search" path that records its raw "q" value. It serves on
// the main thread's event loop, so a test waits for a page by spinning that loop.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

namespace testsupport {

class LoopbackHttpServer {
 public:
  struct Response {
    int status = 200;
    QByteArray contentType = "text/html; charset=utf-8";
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool neverAnswer = false;
  };

  LoopbackHttpServer();
  ~LoopbackHttpServer();

  quint16 port() const { return mServer.serverPort(); }
  // http://127.0.0.1:port followed by the path (which may carry a query).
  QUrl url(const QString& pathAndQuery) const;

  void setResponse(const QString& path, Response response);
  void setPage(const QString& path, const QByteArray& html);
  void setRedirect(const QString& path, const QString& location);
  void setNeverAnswering(const QString& path);

  // Raw "q" values of "/search" requests, in order.
  const QStringList& searchQueries() const { return mSearchQueries; }
  // Every requested path with its query, in order.
  const QStringList& requests() const { return mRequests; }

  // A loopback port on which nothing listens.
  static quint16 closedPort();

 private:
  void answer(class QTcpSocket* socket, const QByteArray& head);

  QTcpServer mServer;
  QHash<QString, Response> mResponses;
  QStringList mSearchQueries;
  QStringList mRequests;
};

}  // namespace testsupport
