#pragma once

#include "update/update_info.h"

#include <QObject>
#include <QPointer>
#include <QTemporaryFile>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace sonaric
{

/// One download of an update image into a temporary file, on the main thread.
///
/// The image is written to a file in the temporary folder as it arrives. A request that fails before an
/// answer gives "The download failed. Check your connection and try again.", an answer other than 200 "The
/// download failed. Try again later.", more bytes than the feed announced "The download was damaged. Try
/// again." (the download stops there rather than filling the disk). On any failure the file is gone.
class UpdateDownload final : public QObject
{
    Q_OBJECT

public:
    /// `file` is the downloaded image on success, empty on failure; `error` is the text for the user then.
    using Completion = std::function<void(const QString& file, const QString& error)>;

    /// Starts downloading `update` through `network`; `done` is called once, on the main thread, unless the
    /// download is destroyed first (a destroyed download leaves no file behind).
    UpdateDownload(QNetworkAccessManager& network, const UpdateInfo& update, Completion done, QObject* parent);
    ~UpdateDownload() override;

    /// No data for this long fails the download.
    static constexpr int timeoutMilliseconds = 120'000;

private:
    void receive();
    void finish();
    void fail(const QString& error);

    UpdateInfo m_update;
    Completion m_done;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QTemporaryFile> m_file;
    QString m_failure; // set when the download was stopped on our side
};

} // namespace sonaric
