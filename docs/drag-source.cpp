// A small window at X, Y that starts dragging FILE when pressed, as a file
// manager does: docs/make-screenshots.sh drops files on the dialog with it
// (xdotool moves the pointer and presses buttons, but starts no drag).
// Usage: drag-source FILE X Y
#include <QApplication>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

class DragSource final : public QLabel {
public:
    explicit DragSource(const QString& path) : QLabel(path), path_(path) {}

protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* drag = new QDrag(this);   // owned by this window
        auto* mime = new QMimeData;     // owned by the drag
        mime->setUrls({QUrl::fromLocalFile(path_)});
        drag->setMimeData(mime);
        drag->exec(Qt::CopyAction);
        // The target reads the dropped data from this program after the drop:
        // stay a moment before leaving.
        QTimer::singleShot(3000, &QApplication::quit);
    }

private:
    QString path_;
};

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 4) return 2;
    DragSource source(QString::fromLocal8Bit(argv[1]));
    source.setWindowTitle(QStringLiteral("drag-source"));
    source.setMargin(12);
    source.move(QString::fromLocal8Bit(argv[2]).toInt(), QString::fromLocal8Bit(argv[3]).toInt());
    source.show();
    return application.exec();
}
