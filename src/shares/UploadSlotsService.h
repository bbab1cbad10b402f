#pragma once

// What search replies tell the asker of our upload queue. The transfer
// manager answers; until it exists we report no free slot and an empty queue.
class UploadSlotsService
{
public:
    virtual ~UploadSlotsService() = default;

    virtual bool IsFreeToUpload() = 0;
    virtual int QueuedUploadCount() = 0;
};

// The one upload-slots service; null until the transfer manager exists.
extern UploadSlotsService* uploadSlotsService;
