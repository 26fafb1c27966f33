#pragma once

#include <QByteArray>

class RunRecord;

// The run's verdict as JUnit XML, as CI systems read it: <testsuites> with one <testsuite>
// "lightbench" (tests, failures, errors, time, timestamp) holding a <testcase> per bound port
// (classname "lightbench", name "port N DEVICE", time: how long it was bound), and a <failure>
// for a failed port (message: the verdict's reasons; type: the first reason; text: the verdict
// line). Properties: the command line and whether the evidence is complete.
QByteArray junitXml(const RunRecord& record, bool evidenceComplete);
