#pragma once
// The controller proxy: one object per controller NAD that brings its controller to the ready state (socket
// open, controller answering, program present, ALC current, program running), writes and reads the
// variables a request names, and keeps the controller's ALC with its cache file; and the owning list of
// proxies.
//
// Threads: one thread at a time works with a proxy (Read, ReadALC, AllocationFile, the socket): the
// controller service (uControllerService) lets a request work with a proxy only in that controller's turn,
// and the proxies of different controllers run side by side. RequestCount and LastRequestTimestamp change
// under the service's small lock. The communicator takes answers in under a lock of its own. The status
// display reads copies that the service takes, partly from OnPingResult.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "qlink/uCommunication.h"
#include "vars/TItemList.h"
#include "vars/uGadgetVars.h"
#include "vars/uZeltoVars.h"

namespace zelto {

// The proxy's step in Read (ordinal values fixed).
enum TProgramState : int {
    psInit = 0,         // created, no Read yet
    psSocketInit = 1,   // open the socket; also the state after a failed Read
    psConnect = 2,      // ask the controller to answer
    psCheckCode = 3,    // check that a program is present
    psReadAlc = 4,      // load the ALC
    psCheckPLCRun = 5,  // check that the program runs
    psSendParam = 6,    // declared; never entered
    psRun = 7,          // ready; variables written and read
    psCheckDate = 8,    // compare the program's transfer date with the one last seen
    psError = 9,        // a step failed; ErrorS holds the message
};

class TZelto {
public:
    // A proxy for no controller yet (NAD -1).
    TZelto();
    // A proxy whose communicator is addressed to aNAD.
    explicit TZelto(int32_t aNAD);
    // Closes the communicator's socket.
    ~TZelto();
    TZelto(const TZelto&) = delete;
    TZelto& operator=(const TZelto&) = delete;

    // Brings the controller to the ready state, writes the request variables of this NAD that carry a write,
    // then reads those to be read. GadgetVarList holds the request variables of all controllers; with
    // ReadAll a proxy that loads its ALC appends a request variable for each controller variable to it (the
    // list owns them). Failures end in ErrorS and psSocketInit; only an ALC line that cannot be parsed
    // raises (EAlcParseError), and later Reads serve the variables before that line until the program's
    // transfer date changes. Request variables are left bound only to values read in this Read.
    void Read(TGadgetVarList& GadgetVarList, bool ReadAll);
    // Loads the ALC (cache file, else the controller) into AllocationFile and ZeltoVarList. False when there
    // is none or it unpacks to an empty text. Raises EAlcParseError for a line that cannot be parsed.
    bool ReadALC();
    // Binds the request variables of this NAD to the global controller variables of the same name and
    // element, and keeps a copy of each bound variable (taken after the write value was applied).
    void AssignZeltoVarsToGadgetVars(TGadgetVarList& GadgetVarList);
    // The communicator's transfer of the bound copies.
    bool WriteVars();
    bool ReadVars();
    // Puts the values read into the controller variables that the request variables are bound to.
    void CopyValuesToGadgetVars(TGadgetVarList& GadgetVarList);

    int32_t NAD() const { return fNAD; }
    // A different NAD readdresses the communicator (which forgets the controller's address).
    void SetNAD(int32_t Value);
    // The controller's address as learnt by the last successful ping; empty before.
    std::string IP() const;
    TZeltoVarList& ZeltoVarList() { return fZeltoVarList; }
    const TZeltoVarList& ZeltoVarList() const { return fZeltoVarList; }
    void SetZeltoVarList(TZeltoVarList Value) { fZeltoVarList = std::move(Value); }
    const TZeltoVarList& SelectedVarList() const { return fSelectedVarList; }
    // Runs ReadALC (cache or controller, without the state machine) and returns the ALC lines whatever
    // the load gave.
    const std::vector<std::string>& AllocationFile();
    bool AlcOK() const { return fAlcOK; }
    bool RunOK() const { return fRunOK; }
    bool ProgramOK() const { return fProgramOK; }
    bool PingOK() const { return fPingOK; }
    TProgramState ProgramState() const { return fProgramState; }
    // The program's transfer date as the locale's short date and long time ("" for 0 or negative).
    std::string ProgramDate() const;
    const std::string& Password() const { return fPassword; }
    // Stores the password and gives the communicator its checksum.
    void SetPassword(const std::string& Value);
    TCommunicator& Comm() const { return *fComm; }
    // Replaces the communicator (tests put one on a scripted socket here); it is addressed to this NAD.
    void SetComm(std::unique_ptr<TCommunicator> Value);

    // Whether the communicator's socket is open, and closing it (the next Read or AllocationFile opens it
    // again; the controller's address and the program date seen last are kept).
    bool SocketOpen() const;
    void CloseSocket();

    // Called on the thread that runs Read as soon as the ping of that Read has its result (PingOK and IP
    // are then current), before the rest of the read sequence.
    std::function<void(const TZelto&)> OnPingResult;

    // The cache file of this NAD's ALC: "alc_http_<NAD>.tmp" in AlcCacheDir().
    std::string AlcCacheFileName() const;

    std::string ErrorS;                  // message of the last failure; not cleared by later successes
    TDateTime LastRequestTimestamp = 0;  // when a request last named this controller
    int32_t RequestCount = 0;            // request items that named this controller

private:
    // Splits the request variables of this NAD into the read and the write list.
    void SplitGadgetVars(const TGadgetVarList& GadgetVarList);
    void AddAllVarsTo(TGadgetVarList& GadgetVarList) const;
    void SetError(const std::string& Message);
    // The ALC text from the controller's "alc.zip" (up to three tries); the archive goes to the cache file.
    // Empty when the controller has none or it does not unpack.
    std::string FetchAlcText();

    int32_t fNAD = -1;
    TZeltoVarList fZeltoVarList;
    TZeltoVarList fSelectedVarList;
    TGadgetVarList fWriteGadgetVarList{TListOwnership::Borrows};
    TGadgetVarList fReadGadgetVarList{TListOwnership::Borrows};
    TProgramState fProgramState = psInit;
    std::vector<std::string> fAllocFile;
    bool fAlcOK = false;
    bool fRunOK = false;
    bool fProgramOK = false;
    bool fPingOK = false;
    bool fAlcLoaded = false;  // the last ReadALC, in Read or through AllocationFile, loaded an ALC (up to a
                              // line that cannot be parsed)
    std::string fPassword;
    std::unique_ptr<TCommunicator> fComm;
};

// An owning list of proxies in order of creation.
class TZeltoList {
public:
    TZeltoList() = default;
    TZeltoList(const TZeltoList&) = delete;
    TZeltoList& operator=(const TZeltoList&) = delete;

    int Add(std::unique_ptr<TZelto> AItem) { return FItems.Add(std::move(AItem)); }
    // Appends a new proxy for ANAD (without looking for one that exists); returns its index.
    int AddNewZeltoByNAD(int32_t ANAD);
    // The last proxy of that NAD, or nullptr.
    TZelto* GetByNAD(int32_t NAD) const;
    TZelto* GetItem(int Index) const { return FItems.GetItem(Index); }
    TZelto* Items(int Index) const { return FItems.GetItem(Index); }
    int Count() const { return FItems.Count(); }
    int IndexOf(const TZelto* AItem) const { return FItems.IndexOf(AItem); }
    // Takes the first occurrence out of the list without freeing it: the caller receives it (nullptr when
    // it is not in the list).
    std::unique_ptr<TZelto> Remove(TZelto* AItem) { return FItems.Extract(AItem); }
    // Frees every proxy, last to first, and empties the list.
    void Clear() { FItems.Clear(); }

    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    TItemList<TZelto> FItems;
};

}  // namespace zelto
