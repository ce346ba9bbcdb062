#pragma once
// The class object of the service: makes its server objects, all with the process's service
// build. It lives as long as the process; a client's LockServer holds the module.
#include "CQuarnSrvFactory.h"

class CQuarnServiceBuild;

class CQuarnguardFactory : public CQuarnSrvFactory {
public:
    explicit CQuarnguardFactory(CQuarnServiceBuild& build) : m_build(build) {}

protected:
    IUnknown* NewObject() override;

private:
    CQuarnServiceBuild& m_build;
};
