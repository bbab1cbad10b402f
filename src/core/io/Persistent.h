#pragma once

class InputStream;
class OutputStream;

// A record that reads itself from a stream. Read returns false when the data
// is short or out of bounds.
class StreamReadable
{
public:
    virtual ~StreamReadable() = default;
    virtual bool Read(InputStream& io_stream) = 0;
};

// A record that writes itself to a stream. Write returns false as soon as one
// underlying write fails.
class StreamWritable
{
public:
    virtual ~StreamWritable() = default;
    virtual bool Write(OutputStream& io_stream) const = 0;
};

// A record that travels both ways.
class Persistent : public StreamReadable, public StreamWritable
{
};
