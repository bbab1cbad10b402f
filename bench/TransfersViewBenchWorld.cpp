#include "TransfersViewBenchWorld.h"

#include "ViewBenchLoop.h"

#include "core/store/Data.h"
#include "ui/views/TransfersForm.h"
#include "ui_TransfersForm.h"

#include <QTabWidget>
#include <QTreeWidget>

TransfersViewBenchWorld::TransfersViewBenchWorld() : m_services(DownloadFolder())
{
    mp_view = std::make_unique<TransfersForm>();
    mp_view->Init();
}

bool TransfersViewBenchWorld::Show(bool i_uploadsTab)
{
    Ui::TransfersForm& l_form = *mp_view->Form();
    if (i_uploadsTab)
        l_form.transfersTabControl->setCurrentWidget(l_form.uploadsTab);
    mp_view->resize(1200, 800);
    mp_view->show();
    return WaitForPaint(i_uploadsTab ? l_form.uploadsList->viewport() : l_form.downloadsList->viewport());
}

TransfersViewBenchWorld::~TransfersViewBenchWorld()
{
    // The page goes before the services, as at the program's end.
    mp_view.reset();
    // The store keeps its items to the end of the process: let the removal
    // handlers free the figure cells the running transfers still hold.
    for (const char* lp_type : {"write_position", "read_position", "last_receipt_time", "last_speed_measurement_time",
                                "bytes_per_second", "bytes_since_last_receipt", "bytes_uploaded"})
        d.GetType(lp_type)->GetItems().Remove();
}
