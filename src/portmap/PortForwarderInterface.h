#pragma once

// What the server link asks of the port forwarder: map the listening ports
// on the Internet gateway. The link calls Init when it connects, after each
// login and on the hourly renewal, each time only while "use_upnp" is "yes".
// Init must return at once; the work happens elsewhere.
class PortForwarderInterface
{
public:
    virtual ~PortForwarderInterface() = default;
    virtual void Init() = 0;
};
