// The names of the notifications through which the tablet's hub, list, card
// pane and modal screens talk to each other (all on the default centre,
// posted and delivered on the main thread), the mode numbers the card pane
// knows, and a helper that registers a member function as an observer for
// as long as the returned token lives (the observer is held weakly).
#pragma once

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Object.h"

namespace app {

// Payload [rows, NSNumber index]: show rows in the list, rows[index] in the pane.
inline constexpr const char* kActualizarVistaBotones = "ActualizarVistaBotones";
// Payload: a card row; shown in the pane (resets the pane's card stack).
inline constexpr const char* kActualizaContenidoCarta = "ActualizaContenidoCarta";
// Payload: a title string for the pane's title label.
inline constexpr const char* kActualizaTitulo = "ActualizaTitulo";
// Payload: NSNumber mode (see TabletMode).
inline constexpr const char* kModificarModo = "ModificarModo";
// No payload: start random practice.
inline constexpr const char* kEntrarModoRandom = "EntrarModoRandom";
// Payload: [add-group row, groups...].
inline constexpr const char* kListarTodosLosGruposApp = "ListarTodosLosGruposApp";
// No payload: present the group editor.
inline constexpr const char* kMostrarAgregarGrupo = "MostrarAgregarGrupo";
// Payload: NSNumber row of the favourites list that was swiped away.
inline constexpr const char* kBorrarFavorito = "BorrarFavorito";
// No payload: the groups changed; the list rebuilds its groups list.
inline constexpr const char* kActualizarGrupos = "ActualizarGrupos";
// Payload: a card row to share.
inline constexpr const char* kCompartirRedes = "CompartirRedes";
// Payload: {"para", "subject", "mensaje"}.
inline constexpr const char* kEnviarMail = "EnviarMail";
// No payload: the pane's web view takes the window's touches again.
inline constexpr const char* kWebViewSwip = "webViewSwip";
// No payload: close the full-screen card.
inline constexpr const char* kClicCerrar = "clicCerrar";

enum TabletMode : long {
    kModoNavegacion = 0,   // browsing lists, favourites, groups, info, search results
    kModoRandom = 1,       // random practice: a tap turns the card
    kModoTacticas = 2,     // interview tactics
};

// Posts `name` with `object` on the default centre.
inline void postTablet(const char* name, ns::Ref<ns::Object> object = nullptr) {
    ns::NotificationCenter::defaultCenter()->postNotification(name, std::move(object));
}

// Registers `fn` of `self` for `name` (any object). `self` is held weakly: a
// notification that arrives after it is gone is ignored.
template <class T>
[[nodiscard]] ns::ObserverToken observeTablet(const char* name, T* self, void (T::*fn)(const ns::Notification&)) {
    ns::Weak<T> weak(self);
    return ns::NotificationCenter::defaultCenter()->addObserver(
        name, nullptr, [weak, fn](const ns::Notification& n) {
            if (auto s = weak.lock()) (s.get()->*fn)(n);
        });
}

}  // namespace app
