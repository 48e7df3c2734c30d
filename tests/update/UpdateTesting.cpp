#include "UpdateTesting.h"

bool waitForCheck (VobrelAudioProcessorEditor& editor, int maxMs)
{
    return pumpUntil ([&] { return UpdateTestAccess::checkHasFinished (editor); }, maxMs);
}

LoggedRequest LoggedRequest::from (const juce::var& record)
{
    LoggedRequest r;
    r.method  = record["method"].toString();
    r.path    = record["path"].toString();
    r.query   = record["query"].toString();
    r.version = record["version"].toString();
    r.bodyBytes = (int) record["body_bytes"];
    r.chunked = (bool) record["chunked"];
    r.hasContentLength = ! record["content_length"].isVoid();
    r.tls = (bool) record["tls"];
    r.status = record["status"].isVoid() ? 0 : (int) record["status"];

    if (auto* headers = record["headers"].getArray())
    {
        for (auto& header : *headers)
        {
            r.headerNames.add (header[0].toString());
            r.headers.set (header[0].toString(), header[1].toString());
        }
    }

    return r;
}
