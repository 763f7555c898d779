// Opens the detection result page over many stored results and reports the time to its first
// paint against the time the sqlite3 shell takes to read every row. With a folder argument it
// also saves pictures of the pop-up, both result pages and the detail box there.
//   result_window_bench [count] [screenshot folder]
#include <sqlite3.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTabWidget>
#include <QTableView>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "backup/backup_error_list.h"
#include "backup/backup_xml_utility.h"
#include "detection/detect_file_result_sql_utility.h"
#include "ui/balloon_dialog.h"
#include "ui/result_db_source.h"
#include "ui/result_detail_dialog.h"
#include "ui/result_detect_page.h"
#include "ui/result_dialog.h"
#include "ui/strings/lrc_reader_wrapper.h"

using namespace tessarine;

namespace {

class PaintWatch : public QObject {
public:
    bool painted = false;
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted = true;
        return QObject::eventFilter(object, event);
    }
};

void Fill(const std::string& path, int count) {
    CDetectFileResultSQLUtility db(path);
    db.Initialize();
    sqlite3* handle = nullptr;
    sqlite3_open(path.c_str(), &handle);
    sqlite3_exec(handle, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(handle,
                       "INSERT INTO DETECT_FILE_RESULT (ID, FILE_NAME, FILE_PATH, DETECTED_TIME) "
                       "VALUES (?, ?, ?, ?)",
                       -1, &insert, nullptr);
    sqlite3_stmt* hit = nullptr;
    sqlite3_prepare_v2(handle,
                       "INSERT INTO DETECT_FILE_RESULT_DETAIL (ID, DISPLAY_ORDER, CATEGORY, "
                       "HIT_TEXT) VALUES (?, ?, ?, ?)",
                       -1, &hit, nullptr);
    for (int i = 0; i < count; ++i) {
        char stamp[15];
        std::snprintf(stamp, sizeof stamp, "2017%02d%02d%02d%02d%02d", 1 + i % 12, 1 + i % 28,
                      i % 24, i % 60, (i / 60) % 60);
        const std::string name = "report" + std::to_string(i) + ".docx";
        const std::string filePath = "/home/user1/documents/" + name;
        const std::string id = CDetectFileResultSQLUtility::MakeId(stamp, filePath);
        sqlite3_bind_text(insert, 1, id.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, filePath.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 4, stamp, -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_reset(insert);
        const char* hits[][2] = {{"マイナンバー", "1234 5678 9012"},
                                 {"マイナンバー", "2345 6789 0123"},
                                 {"クレジットカード", "4111-1111-1111-1111"}};
        for (int h = 0; h < 3; ++h) {
            sqlite3_bind_text(hit, 1, id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(hit, 2, h);
            sqlite3_bind_text(hit, 3, hits[h][0], -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(hit, 4, hits[h][1], -1, SQLITE_TRANSIENT);
            sqlite3_step(hit);
            sqlite3_reset(hit);
        }
    }
    sqlite3_finalize(insert);
    sqlite3_finalize(hit);
    sqlite3_exec(handle, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(handle);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;
    const std::string shots = argc > 2 ? argv[2] : "";
    QApplication app(argc, argv);
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("result_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "backup");
    const std::string path = (dir / "TessarineTool.db").string();
    Fill(path, count);

    QElapsedTimer timer;
    timer.start();
    CDetectFileResultSQLUtility reader(path);
    reader.Initialize();
    ui::CDetectFileResultDbSource source(reader);
    ui::CResultDlg window((dir / "backup").string() + "/", source);
    PaintWatch watch;
    window.DetectPage()->List()->viewport()->installEventFilter(&watch);
    window.ShowForKind(kBalloonDetectFileResult);
    while (!watch.painted) QApplication::processEvents();
    const double firstPaintMs = static_cast<double>(timer.nsecsElapsed()) / 1e6;

    const auto shellStart = std::chrono::steady_clock::now();
    const std::string command =
        "sqlite3 '" + path +
        "' 'SELECT ID, FILE_NAME, FILE_PATH, DETECTED_TIME FROM DETECT_FILE_RESULT ORDER BY "
        "DETECTED_TIME DESC;' > /dev/null";
    const int shellStatus = std::system(command.c_str());
    const double shellMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - shellStart)
            .count();

    if (!shots.empty()) {
        std::filesystem::create_directories(shots);
        window.resize(720, 440);
        QApplication::processEvents();
        window.grab().save(QString::fromStdString(shots + "/result_detect_page.png"));
        CBackupXMLUtility writer((dir / "backup").string() + "/", DefaultSystemInfo());
        writer.CreateClientResultFile(1514764205, 1514764799, 2);
        BackupErrorList errors;
        errors.executeCount = 12;
        errors.successCount = 10;
        errors.paths = {"/home/user1/documents/report.docx", "/home/user1/写真/旅行.jpg"};
        CBackupXMLUtility detailWriter((dir / "backup").string() + "/", DefaultSystemInfo());
        detailWriter.CreateDetailResultFile(errors);
        window.ShowForKind(kBalloonBackupResult);
        QApplication::processEvents();
        window.grab().save(QString::fromStdString(shots + "/result_backup_page.png"));
        ui::CLrcReaderWrapper strings;
        CDetectFileResult record;
        std::vector<ui::ResultListRow> first;
        source.ReadResults(std::nullopt, 1, first);
        if (!first.empty()) reader.FindDetectFileResult(first[0].result.id, &record);
        ui::CDetectFileResultDetailDlg detail(record, strings);
        detail.show();
        QApplication::processEvents();
        detail.grab().save(QString::fromStdString(shots + "/result_detail_box.png"));
        ui::CNotifyBalloonDlg balloon;
        balloon.ShowRequest({kBalloonDetectFileResult, 0, 0});
        QApplication::processEvents();
        balloon.grab().save(QString::fromStdString(shots + "/balloon_popup.png"));
    }
    window.hide();
    std::filesystem::remove_all(dir);
    std::printf("results=%d first_paint_ms=%.1f sqlite3_shell_ms=%.1f shell_status=%d\n", count,
                firstPaintMs, shellMs, shellStatus);
    std::printf("ratio=%.3f\n", firstPaintMs / shellMs);
    return 0;
}
