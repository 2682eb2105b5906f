#include "plc/uZelto.h"

#include <algorithm>
#include <sstream>
#include <unordered_map>

#include "base/TextEncoding.h"
#include "base/TextLines.h"
#include "plc/uAlcCache.h"
#include "plc/uProgramDate.h"
#include "qlink/uExchangeObserver.h"
#include "qlink/uQLink.h"
#include "zip/uZipFile.h"

namespace zelto {

namespace {

constexpr int kReadAlcAttempts = 3;

// Empties a borrowing list when the scope ends, also when an error leaves it.
struct TBorrowedListsReset {
    TGadgetVarList& a;
    TGadgetVarList& b;
    ~TBorrowedListsReset() {
        a.ClearWithoutFreeing();
        b.ClearWithoutFreeing();
    }
};

// The text of entry 0 of an ALC archive; empty when there is no entry or it cannot be unpacked.
std::string UnpackAlcText(const std::string& Archive) {
    try {
        std::istringstream in(Archive);
        TZipFile zip;
        zip.LoadFromStream(in);
        if (zip.Count() < 1) return {};
        return Cp1252ToUtf8(zip.GetUncompressed(0));
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace

// ---- TZelto

TZelto::TZelto() : fComm(std::make_unique<TCommunicator>()) {}

TZelto::TZelto(int32_t aNAD) : TZelto() { SetNAD(aNAD); }

TZelto::~TZelto() {
    if (fComm) fComm->Close();
    // The request variables belong to the request service.
    fWriteGadgetVarList.ClearWithoutFreeing();
    fReadGadgetVarList.ClearWithoutFreeing();
}

void TZelto::SetNAD(int32_t Value) {
    if (Value == fNAD) return;
    fNAD = Value;
    fComm->SetZeltoNAD(Value);
}

std::string TZelto::IP() const { return fComm->ZeltoIP(); }

bool TZelto::SocketOpen() const { return fComm->IsOpen(); }

void TZelto::CloseSocket() { fComm->Close(); }

void TZelto::SetPassword(const std::string& Value) {
    fPassword = Value;
    fComm->SetPasswordCRC(PasswordChecksum(std::string_view(Value), 0));
}

void TZelto::SetComm(std::unique_ptr<TCommunicator> Value) {
    if (fComm) fComm->Close();
    fComm = std::move(Value);
    fComm->SetZeltoNAD(fNAD);
    fComm->SetPasswordCRC(PasswordChecksum(std::string_view(fPassword), 0));
}

std::string TZelto::ProgramDate() const { return ProgramDateText(fComm->TransferDate()); }

std::string TZelto::AlcCacheFileName() const { return zelto::AlcCacheFileName(fNAD); }

void TZelto::SetError(const std::string& Message) {
    fProgramState = psError;
    ErrorS = Message;
}

void TZelto::SplitGadgetVars(const TGadgetVarList& GadgetVarList) {
    fReadGadgetVarList.ClearWithoutFreeing();
    fWriteGadgetVarList.ClearWithoutFreeing();
    for (TGadgetVar* g : GadgetVarList) {
        if (g == nullptr || g->NAD() != fNAD) continue;
        if (g->ReadReq()) fReadGadgetVarList.Add(g);
        if (g->WriteReq()) fWriteGadgetVarList.Add(g);
    }
}

void TZelto::AddAllVarsTo(TGadgetVarList& GadgetVarList) const {
    for (const TZeltoVar* v : fZeltoVarList) {
        if (v == nullptr) continue;
        std::string fullName = "c" + std::to_string(fNAD) + "." + v->Name();
        if (v->IsArray()) fullName += "[" + std::to_string(v->ArrayIndex()) + "]";
        GadgetVarList.Add(std::make_unique<TGadgetVar>(fullName));
    }
}

// The proxy's state machine. Each step runs only when the step before left the state at it, so the first
// failure skips the rest; a failed Read ends at psSocketInit, from where the next one starts again.
void TZelto::Read(TGadgetVarList& GadgetVarList, bool ReadAll) {
    // The read and write lists borrow the caller's request variables only for this call.
    TBorrowedListsReset reset{fReadGadgetVarList, fWriteGadgetVarList};
    SplitGadgetVars(GadgetVarList);
    if (fReadGadgetVarList.Count() == 0 && fWriteGadgetVarList.Count() == 0 && !ReadAll) return;

    fProgramState = psSocketInit;
    if (fComm->Open())
        fProgramState = psConnect;
    else
        SetError("Cannot open socket!");

    if (fProgramState == psConnect) {
        fPingOK = fComm->Connect();
        if (OnPingResult) OnPingResult(*this);
        if (fPingOK)
            fProgramState = psCheckCode;
        else
            SetError("PLC not responding!");
    }
    if (fProgramState == psCheckCode) {
        fProgramOK = fComm->CheckCode();
        if (fProgramOK)
            fProgramState = psCheckDate;
        else
            SetError("PLC has no program!");
    }
    if (fProgramState == psCheckDate) {
        // The date is checked (and recorded) every time; an ALC whose last load failed is loaded again
        // although the date is unchanged, so that a passing fault does not leave the proxy without
        // variables until the next program transfer.
        const bool unchanged = fComm->CheckDateNotChanged();
        fProgramState = unchanged && fAlcLoaded ? psCheckPLCRun : psReadAlc;
    }
    if (fProgramState == psReadAlc) {
        fAlcOK = ReadALC();  // an ALC line that cannot be parsed raises here, leaving psReadAlc
        if (!fAlcOK) {
            SetError("ALC data not found!");
        } else {
            fProgramState = psCheckPLCRun;
            if (ReadAll) {
                AddAllVarsTo(GadgetVarList);
                SplitGadgetVars(GadgetVarList);
                if (fReadGadgetVarList.Count() == 0 && fWriteGadgetVarList.Count() == 0) return;
            }
        }
    }
    if (fProgramState == psCheckPLCRun) {
        fRunOK = fComm->CheckIfZeltoIsRunning();
        if (fRunOK)
            fProgramState = psRun;
        else
            SetError("PLC not running!");
    }
    if (fProgramState == psRun) {
        // Writes first, so that a variable both written and read is reported as read back.
        AssignZeltoVarsToGadgetVars(fWriteGadgetVarList);
        WriteVars();  // a failed write is not reported
        // What a request shows is what the controller gave back, never the value that was only sent.
        fWriteGadgetVarList.ClearZeltoVarReferences();
        AssignZeltoVarsToGadgetVars(fReadGadgetVarList);
        if (ReadVars()) {
            CopyValuesToGadgetVars(fReadGadgetVarList);
        } else {
            // No value of a failed read is fresh: its variables are answered without one ("?").
            fReadGadgetVarList.ClearZeltoVarReferences();
            SetError("Error reading vars");
        }
    }
    if (fProgramState == psError) fProgramState = psSocketInit;
}

void TZelto::AssignZeltoVarsToGadgetVars(TGadgetVarList& GadgetVarList) {
    fSelectedVarList.Clear();
    GadgetVarList.ClearZeltoVarReferences();
    // The controller variable that a request variable binds to has its name and its element index (element
    // 0 for a name without index), so the list's index hands over the candidates. The bindings are then made
    // in the order of the controller's variables, and of the request's for one variable: the order of the
    // copies, and so of the transfer.
    struct TMatch {
        int VarAt;
        int GadgetAt;
        TZeltoVar* Var;
        TGadgetVar* Gadget;
    };
    std::vector<TMatch> matches;
    int gadgetAt = 0;
    for (TGadgetVar* g : GadgetVarList) {
        const int at = gadgetAt++;
        if (g == nullptr || g->NAD() != fNAD) continue;
        fZeltoVarList.ForEachElement(g->Name(), g->IsArray() ? g->ArrayIndex() : 0, [&](int varAt, TZeltoVar* v) {
            if (v->Scope() == vsGlobal && g->ArrayIndex() < v->ArrayCount()) matches.push_back({varAt, at, v, g});
        });
    }
    std::sort(matches.begin(), matches.end(), [](const TMatch& a, const TMatch& b) {
        return a.VarAt != b.VarAt ? a.VarAt < b.VarAt : a.GadgetAt < b.GadgetAt;
    });
    for (const TMatch& m : matches) {
        // Whether the variable takes the write value (its type, and not read-only); the binding applies it
        // only then.
        const bool writeTaken = m.Gadget->WriteReq() && WriteValueFor(m.Gadget->WriteValue(), *m.Var).has_value();
        m.Gadget->SetZeltoVar(m.Var);
        auto copy = std::make_unique<TZeltoVar>();
        copy->Assign(m.Var);
        copy->SetWriteReq(writeTaken);
        fSelectedVarList.Add(std::move(copy));
    }
}

bool TZelto::WriteVars() {
    // Only values a request set go to the controller: a copy whose write value the type refused holds the
    // proxy's cached value, which could overwrite newer data in the machine.
    TZeltoVarList writes(TListOwnership::Borrows);
    for (TZeltoVar* v : fSelectedVarList)
        if (v != nullptr && v->WriteReq()) writes.Add(v);
    if (writes.Count() == 0) return false;
    const bool ok = fComm->WriteVars(&writes);
    writes.ClearWithoutFreeing();
    return ok;
}

bool TZelto::ReadVars() { return fComm->ReadVars(&fSelectedVarList); }

void TZelto::CopyValuesToGadgetVars(TGadgetVarList& GadgetVarList) {
    // Each copy's value goes to the first request variable bound to a variable of the copy's name and
    // element.
    std::unordered_map<TVarKey, TZeltoVar*, TVarKeyHash> firstBound;
    for (TGadgetVar* g : GadgetVarList) {
        TZeltoVar* bound = g != nullptr ? g->ZeltoVar() : nullptr;
        if (bound == nullptr || g->NAD() != fNAD) continue;
        firstBound.try_emplace(TVarKey{bound->Name(), bound->ArrayIndex()}, bound);
    }
    for (const TZeltoVar* c : fSelectedVarList) {
        if (c == nullptr) continue;
        const auto it = firstBound.find(TVarKey{c->Name(), c->ArrayIndex()});
        // The raw form carries the value exactly.
        if (it != firstBound.end()) it->second->SetZeltoValue(c->ZeltoValue());
    }
}

std::string TZelto::FetchAlcText() {
    for (int attempt = 0; attempt < kReadAlcAttempts; ++attempt) {
        std::unique_ptr<TMemoryStream> archive;
        if (fComm->ReadAlc(archive) && archive) {
            // A cache that cannot be written is skipped: the next load asks the controller again.
            WriteAlcCache(AlcCacheFileName(), fComm->TransferDate(), *archive);
            return UnpackAlcText(*archive);
        }
    }
    return {};
}

bool TZelto::ReadALC() {
    fAlcLoaded = false;
    fAllocFile.clear();
    fSelectedVarList.Clear();
    fZeltoVarList.Clear();
    std::string text;
    if (const auto cached = ReadAlcCache(AlcCacheFileName(), fComm->TransferDate())) text = UnpackAlcText(*cached);
    // A cache that does not unpack is as good as none.
    if (text.empty()) text = FetchAlcText();
    if (text.empty()) return false;
    NoteAlcLoad(fNAD);
    fAllocFile = SplitLines(text);
    // Loaded, also when a line cannot be parsed: that error answers this request, and the variables before
    // the line serve the later ones until the program's transfer date changes.
    fAlcLoaded = true;
    fZeltoVarList.LoadFromStr(fAllocFile, fNAD);
    return true;
}

const std::vector<std::string>& TZelto::AllocationFile() {
    // A proxy that no request has read yet has no open socket; the controller is asked all the same.
    fComm->Open();
    ReadALC();
    return fAllocFile;
}

// ---- TZeltoList

int TZeltoList::AddNewZeltoByNAD(int32_t ANAD) { return Add(std::make_unique<TZelto>(ANAD)); }

TZelto* TZeltoList::GetByNAD(int32_t NAD) const {
    TZelto* found = nullptr;
    for (TZelto* z : FItems)
        if (z != nullptr && z->NAD() == NAD) found = z;
    return found;
}

}  // namespace zelto
