#pragma once

#include <QHash>
#include <QString>
#include <QStyledItemDelegate>
#include <memory>

class QAbstractItemView;

namespace kalvero::window {

// Tells whether the files that entries name exist, without ever making the
// window wait: a path is looked at on a worker thread the first time it is
// asked for, and the answer is kept until clear() (a new load). A file system
// that hangs (an unmounted network share) holds up only the workers; they are
// left to finish on their own and never joined.
class FileExistence : public QObject {
    Q_OBJECT
public:
    // Offline: missing, on a removable drive that is not connected.
    enum class State { Unknown, Present, Missing, Offline };

    explicit FileExistence(QObject* parent = nullptr);
    ~FileExistence() override;

    // The answer so far; Unknown starts a check, and checked() follows.
    State state(const QString& path);
    // For a path found Offline: the drive's folder.
    QString offlineDrive(const QString& path) const { return drives_.value(path); }
    // Forgets every answer and looks at the mounted drives again; checks
    // under way are ignored when they end.
    void clear();
    // How many paths were asked for since the last clear().
    int askedCount() const { return static_cast<int>(known_.size()); }

signals:
    // Answers arrived (several at once, in the thread of this object).
    void checked();

private:
    struct Shared;
    void collect();

    std::shared_ptr<Shared> shared_;
    QHash<QString, State> known_;
    QHash<QString, QString> drives_;
};

// Draws the list's rows, and a row whose file is missing in the palette's
// disabled text colour with the path in italics; its tooltip says
// "File not found", or "Drive not connected: /media/you/SFX-Drive" when the
// file lies on a drive that is unplugged. Only rows that are drawn or hovered are checked.
class MissingFileDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kPathColumn = 2;

    explicit MissingFileDelegate(QAbstractItemView* view);

    FileExistence* existence() const { return existence_; }
    // Whether the row of `index` is known to name a missing file (offline ones too).
    bool isMissing(const QModelIndex& index) const;
    // The row's tooltip when it is drawn apart; empty otherwise.
    QString missingToolTip(const QModelIndex& index) const;

    // Public for tests: the style the row is drawn with.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    static QString missingText() { return QStringLiteral("File not found"); }
    static QString offlineText(const QString& drive) {
        return QStringLiteral("Drive not connected: %1").arg(drive);
    }

private:
    FileExistence* existence_;
};

}  // namespace kalvero::window
