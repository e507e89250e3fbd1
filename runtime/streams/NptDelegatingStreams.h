/*****************************************************************
| NptDelegatingStreams.h - NPT_DelegatingInputStream and
| NPT_DelegatingOutputStream, bases for one object that is an input
| stream and an output stream at once.
|
| NPT_InputStream and NPT_OutputStream both name their positioning
| operations Seek and Tell. A class deriving from both interfaces
| directly could give only one body to each name; these bases route
| Seek/Tell of the input side to InputSeek/InputTell and those of the
| output side to OutputSeek/OutputTell, so a class deriving from both
| bases keeps an independent position per side (NPT_MemoryStream does).
|
| The bases hold no data; every other operation keeps the default of
| its interface. Like all streams, not safe for concurrent use.
****************************************************************/
#ifndef NPT_DELEGATING_STREAMS_H
#define NPT_DELEGATING_STREAMS_H

#include "NptStreams.h"

class NPT_EXPORT NPT_DelegatingInputStream : public NPT_InputStream
{
public:
    // Returns InputSeek(position).
    NPT_Result Seek(NPT_Position position) override { return InputSeek(position); }
    // Returns InputTell(position).
    NPT_Result Tell(NPT_Position& position) override { return InputTell(position); }

    // Position of the input side; results as the deriving class states.
    virtual NPT_Result InputSeek(NPT_Position position) = 0;
    virtual NPT_Result InputTell(NPT_Position& position) = 0;
};

class NPT_EXPORT NPT_DelegatingOutputStream : public NPT_OutputStream
{
public:
    // Returns OutputSeek(position).
    NPT_Result Seek(NPT_Position position) override { return OutputSeek(position); }
    // Returns OutputTell(position).
    NPT_Result Tell(NPT_Position& position) override { return OutputTell(position); }

    // Position of the output side; results as the deriving class states.
    virtual NPT_Result OutputSeek(NPT_Position position) = 0;
    virtual NPT_Result OutputTell(NPT_Position& position) = 0;
};

#endif // NPT_DELEGATING_STREAMS_H
