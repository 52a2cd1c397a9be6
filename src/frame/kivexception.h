// The exception path: raise the goals reached by a step that did not finish.
#pragma once

void kiv_exception();
