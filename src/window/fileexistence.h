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
    enum class State { Unknown, Present, Missing };

    explicit FileExistence(QObject* parent = nullptr);
    ~FileExistence() override;

    // The answer so far; Unknown starts a check, and checked() follows.
    State state(const QString& path);
    // Forgets every answer; checks under way are ignored when they end.
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
};

// Draws the list's rows, and a row whose file is missing in the palette's
// disabled text colour with the path in italics; its tooltip says
// "File not found". Only rows that are drawn or hovered are checked.
class MissingFileDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kPathColumn = 2;

    explicit MissingFileDelegate(QAbstractItemView* view);

    FileExistence* existence() const { return existence_; }
    // Whether the row of `index` is known to name a missing file.
    bool isMissing(const QModelIndex& index) const;

    // Public for tests: the style the row is drawn with.
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    static QString missingText() { return QStringLiteral("File not found"); }

private:
    FileExistence* existence_;
};

}  // namespace kalvero::window
