#pragma once

// Requests to end the program (Ctrl+C, a terminate, a closed terminal) that
// come while a copy runs. Held, they stop the copy between pieces instead of
// cutting it anywhere: the text files see `interrupted` and stop reading and
// writing, and the dialogue closes the output and says it is incomplete
// before the request ends the program.

/// From now on a request to end the program is held instead of ending it.
/// One that the program was started to ignore stays ignored.
void holdInterrupts();

/// True once a request has come while held.
bool interrupted();

/// Lets requests end the program again. One that was held ends it now, as
/// the system ends it by default, so that whoever started the program sees
/// the usual status. Returns only if none was held.
void releaseInterrupts();
