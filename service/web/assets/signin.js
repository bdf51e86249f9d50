// The token dialog. A token is checked by asking the service who it belongs to before it is kept.
import { setToken, token } from './api.js';
import { h } from './dom.js';
import { t } from './i18n.js';

let dialog = null;

export function openSignIn(onDone) {
    dialog?.remove();
    const input = h('input', { type: 'password', id: 'token-input', autocomplete: 'off', required: true, spellcheck: 'false', 'aria-describedby': 'token-hint' });
    const cancel = h('button', { type: 'button', class: 'secondary', text: t('cancel') });
    const form = h('form', { method: 'dialog' },
        h('h2', { id: 'signin-title', text: t('signInTitle') }),
        h('label', { for: 'token-input', text: t('token') }), input,
        h('p', { class: 'hint', id: 'token-hint', text: t('tokenHint') }),
        h('div', { class: 'buttons' }, h('button', { type: 'submit', class: 'primary', text: t('signIn') }), cancel));
    dialog = h('dialog', { 'aria-labelledby': 'signin-title' }, form);
    form.addEventListener('submit', (ev) => {
        ev.preventDefault();
        const value = input.value.trim();
        if (!value) return;
        setToken(value);
        dialog.close();
        onDone();
    });
    cancel.addEventListener('click', () => dialog.close());
    dialog.addEventListener('close', () => dialog.remove());
    document.body.append(dialog);
    dialog.showModal();
    input.focus();
}

export function signOut(onDone) {
    setToken(null);
    onDone();
}

export function signedIn() {
    return !!token();
}
