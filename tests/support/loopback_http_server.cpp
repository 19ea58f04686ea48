#include "loopback_http_server.h"

#include <QTcpSocket>
#include <QUrlQuery>

#include <memory>

namespace testsupport {

LoopbackHttpServer::LoopbackHttpServer() {
  QObject::connect(&mServer, &QTcpServer::newConnection, &mServer, [this] {
    while (QTcpSocket* socket = mServer.nextPendingConnection()) {
      struct Pending {
        QByteArray head;
        bool answered = false;
      };
      auto pending = std::make_shared<Pending>();
      QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      auto read = [this, socket, pending] {
        if (pending->answered) return;  // a request that never gets an answer reads nothing more
        pending->head.append(socket->readAll());
        const qsizetype end = pending->head.indexOf("\r\n\r\n");
        if (end < 0) return;
        pending->answered = true;
        answer(socket, pending->head.left(end));
      };
      QObject::connect(socket, &QTcpSocket::readyRead, socket, read);
      if (socket->bytesAvailable() > 0) read();
    }
  });
  mServer.listen(QHostAddress::LocalHost, 0);
}

LoopbackHttpServer::~LoopbackHttpServer() {
  mServer.close();
  for (QTcpSocket* socket : mServer.findChildren<QTcpSocket*>()) socket->abort();
}

QUrl LoopbackHttpServer::url(const QString& pathAndQuery) const {
  return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(pathAndQuery));
}

void LoopbackHttpServer::setResponse(const QString& path, Response response) { mResponses.insert(path, response); }

void LoopbackHttpServer::setPage(const QString& path, const QByteArray& html) {
  Response r;
  r.body = html;
  setResponse(path, r);
}

void LoopbackHttpServer::setRedirect(const QString& path, const QString& location) {
  Response r;
  r.status = 302;
  r.headers.append({"Location", location.toUtf8()});
  setResponse(path, r);
}

void LoopbackHttpServer::setNeverAnswering(const QString& path) {
  Response r;
  r.neverAnswer = true;
  setResponse(path, r);
}

void LoopbackHttpServer::answer(QTcpSocket* socket, const QByteArray& head) {
  const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
  const QString target = requestLine.size() > 1 ? QString::fromLatin1(requestLine[1]) : QString();
  mRequests << target;
  const QString path = target.section(QLatin1Char('?'), 0, 0);
  const QString query = target.section(QLatin1Char('?'), 1);

  Response response;
  if (path == QLatin1String("/search")) {
    const QString raw = QUrlQuery(query).queryItemValue(QStringLiteral("q"), QUrl::FullyEncoded);
    mSearchQueries << raw;
    response.body = "<html><body>results for " + raw.toHtmlEscaped().toUtf8() + "</body></html>";
  } else if (mResponses.contains(path)) {
    response = mResponses.value(path);
  } else {
    response.status = 404;
    response.body = "<html><body>not here</body></html>";
  }
  if (response.neverAnswer) return;

  QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + (response.status < 400 ? " OK" : " Error") +
                   "\r\nContent-Type: " + response.contentType +
                   "\r\nContent-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n";
  for (const auto& [name, value] : response.headers) out += name + ": " + value + "\r\n";
  out += "\r\n" + response.body;
  socket->write(out);
  socket->disconnectFromHost();
}

quint16 LoopbackHttpServer::closedPort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return port;
}

}  // namespace testsupport
