#pragma once

#include "list/rowList.h"
#include "ui/job.h"

#include <vector>

namespace quillon {

// The duplicate-removal command as a job: the window goes busy, the rows are
// freed of duplicates on a worker thread (STOP ends it early), then the
// window comes back with "完了" or "処理は中止されました".
class deleteThread : public Job {
    Q_OBJECT
public:
    explicit deleteThread(mainWindow& window);
    ~deleteThread() override;

    bool isExtraction() const override { return false; }
    void Run() override;

private:
    void ended();

    RowList m_rows;
    bool m_stopped = false;
};

} // namespace quillon
