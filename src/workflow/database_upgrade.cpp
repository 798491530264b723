// The database upgrade step. For now only its hand-over: whatever happened,
// the package step is enabled and run.
#include "app/form1.h"

namespace kv {

void TForm1::Button3Click(TObject*) {
    Button5.SetEnabled(true);
    Button5Click(this);
}

} // namespace kv
