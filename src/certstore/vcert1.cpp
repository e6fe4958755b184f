#include "vcert1.h"

#include "Library.h"

const QString VCertLibName = QStringLiteral("VPKI1.DLL");

namespace {

constexpr const char* kProcNames[] = {
#define VCERT_PROC_NAME(name) #name,
    VCERT_PROC_TABLE(VCERT_PROC_NAME)
#undef VCERT_PROC_NAME
};
static_assert(std::size(kProcNames) == VCertProcCount);

// Process-wide binding state; used from the GUI thread only.
struct TBinding
{
    std::array<void*, VCertProcCount> Procs{};
    bool Attempted = false;
    bool Bound = false;
    int32_t Status = 0;
    QString LoadError;
    QString MissingFunction;
};

TBinding& Binding()
{
    static TBinding binding;
    return binding;
}

void Load(TBinding& b)
{
    b.Attempted = true;
    // The library stays loaded for the life of the process: its handle is not kept.
    HMODULE library = LoadLibrary(VCertLibName, &b.LoadError);
    if (!library) {
        b.Status = VCERT_LIB_NOT_LOADED;
        return;
    }
    for (int i = 0; i < VCertProcCount; ++i) {
        const QString name = VCertProcName(static_cast<TDLLProcs>(i));
        b.Procs[i] = GetProcAddress(library, name.toLatin1().constData());
        if (!b.Procs[i]) {
            b.MissingFunction = name;
            b.Status = VCERT_FUNCTION_MISSING;
            return;
        }
    }
    b.Bound = true;
    b.Status = 0;
}

template <typename Fn>
Fn Proc(TDLLProcs proc)
{
    return reinterpret_cast<Fn>(Binding().Procs[proc]);
}

} // namespace

QString VCertProcName(TDLLProcs proc) { return QStringLiteral("VCERT_") + QLatin1String(kProcNames[proc]); }

int32_t VCertLibStatus()
{
    TBinding& b = Binding();
    if (b.Bound)
        return 0;
    if (!b.Attempted)
        Load(b);
    return b.Status;
}

QString VCertLoadError() { return Binding().LoadError; }
QString VCertMissingFunction() { return Binding().MissingFunction; }
void* VCertProc(TDLLProcs proc) { return Binding().Procs[proc]; }

int32_t VCERT_Initialize(const char* store, int32_t mode, int32_t* handle)
{
    if (const int32_t status = VCertLibStatus())
        return status;
    return Proc<VCERT_Initialize_t>(fnInitialize)(store, mode, handle);
}

int32_t VCERT_Uninitialize(int32_t handle)
{
    if (const int32_t status = VCertLibStatus())
        return status;
    return Proc<VCERT_Uninitialize_t>(fnUninitialize)(handle);
}

int32_t VCERT_FindCert(int32_t handle, const int32_t params[VCERT_FIND_PARAM_WORDS], VCERT_FindResult* result)
{
    if (const int32_t status = VCertLibStatus())
        return status;
    return Proc<VCERT_FindCert_t>(fnFindCert)(handle, params, result);
}

int32_t VCERT_FreeFindResult(int32_t handle, VCERT_FindResult* result)
{
    if (const int32_t status = VCertLibStatus())
        return status;
    return Proc<VCERT_FreeFindResult_t>(fnFreeFindResult)(handle, result);
}

int32_t VCERT_ImportMem(int32_t handle, const VCERT_ImportParams* params, const VCERT_MemBlock* block)
{
    if (const int32_t status = VCertLibStatus())
        return status;
    return Proc<VCERT_ImportMem_t>(fnImportMem)(handle, params, block);
}
