// Started by a scheduler, once a day: one maintenance run, then the end.
// No arguments, no window, no questions.
#include "app/frm_backup_and_repair.h"

int main() {
  std::unique_ptr<platform::Services> services = platform::systemServices();
  app::frmBackupAndRepair form(*services);
  return form.Form_Load();
}
