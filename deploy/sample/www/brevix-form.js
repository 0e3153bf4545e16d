// brevix-form.js: sends a form to the Brevix BX gateway in the background and shows the outcome
// on the page. Add beside a form whose action is the gateway:
//
//   <p data-brevix-status></p>                  (inside the form: where the outcome appears)
//   <script src="brevix-form.js" defer></script>
//
// Every form whose action ends in "brevix.cgi" (or that carries data-brevix) is posted with
// fetch, uploads included, asking for a JSON answer. The outcome appears as text in the form's
// [data-brevix-status] element (one is added after the form when there is none), whose class
// becomes brevix-status-sent, -missing, -refused, -failed or -error: the reference number when
// the mail went, the missing fields marked (aria-invalid="true", class "brevix-missing"), or the
// error. Without scripts the form stays a normal post answered with the gateway's pages. A page
// on another site than the gateway needs its origin in the gateway's Allowed_Origins, or the
// browser keeps the answer from it and the page shows a failure.
//
// The texts are English unless the form carries its own, read when the answer comes:
// data-brevix-sending, data-brevix-sent, data-brevix-reference (followed by the number),
// data-brevix-missing, data-brevix-refused and data-brevix-failed (followed by the gateway's
// error text), data-brevix-not-configured, data-brevix-unreachable and data-brevix-pow (the
// anti-spam check failed), e.g.
//   <form action="/cgi-bin/brevix.cgi" method="post" data-brevix-sent="Merci !">
//
// A form with the anti-spam widget (<altcha-widget auto="onsubmit">, README.md "Stopping spam")
// is sent once the widget has solved its challenge: the widget holds the first Send back, solves,
// and sends the form again itself. A solution is good for one submission, so the widget starts
// afresh after each answer but "missing" (the gateway used nothing of that post).
(function () {
  'use strict';

  // The English texts, by the name of the form's data-brevix-* attribute that replaces each.
  var texts = {
    sending: 'Sending…',
    sent: 'Thank you! Your message has been sent.',
    reference: 'Your reference number is',
    missing: 'Please fill in the marked fields.',
    refused: 'The form was not sent:',
    failed: 'The message could not be sent:',
    'not-configured': 'The form is not set up yet. Please let the site owner know.',
    unreachable: 'The form could not be sent. Please try again later.',
    pow: 'The anti-spam check failed, please try again.',
  };

  function text(form, name) {
    var own = form.getAttribute('data-brevix-' + name);
    return own === null ? texts[name] : own;
  }

  function statusElement(form) {
    var element = form.querySelector('[data-brevix-status]');
    if (!element) {
      element = document.createElement('p');
      element.setAttribute('data-brevix-status', '');
      form.parentNode.insertBefore(element, form.nextSibling);
    }
    element.setAttribute('role', 'status');
    element.setAttribute('aria-live', 'polite');
    return element;
  }

  // Text only: every value in an answer may come from a visitor or a mail server.
  function show(form, outcome, message) {
    var element = statusElement(form);
    element.className = 'brevix-status-' + outcome;
    element.setAttribute('data-brevix-outcome', outcome);
    element.textContent = message;
  }

  function clearMarks(form) {
    var marked = form.querySelectorAll('.brevix-missing');
    for (var i = 0; i < marked.length; i++) {
      marked[i].classList.remove('brevix-missing');
      marked[i].removeAttribute('aria-invalid');
    }
  }

  // Marks every field the answer names and focuses the first of them in the page's order (the
  // answer lists the gateway's own fields first). Names that are no field of the form are left.
  function markMissing(form, names) {
    var wanted = Object.create(null);
    for (var i = 0; i < names.length; i++) wanted[String(names[i])] = true;
    var first = null;
    for (var j = 0; j < form.elements.length; j++) {
      var field = form.elements[j];
      if (!field.name || wanted[field.name] !== true) continue;
      wanted[field.name] = false;  // of a group of inputs, only the first is marked
      field.classList.add('brevix-missing');
      field.setAttribute('aria-invalid', 'true');
      if (!first && field.type !== 'hidden') first = field;
    }
    if (first && first.focus) first.focus();
  }

  // The form's anti-spam widget, once its script has made it one (it has verify()).
  function widgetOf(form) {
    var widget = form.querySelector('altcha-widget');
    return widget && typeof widget.verify === 'function' ? widget : null;
  }

  // True while the widget works on its challenge (it sends the form again when solved). A widget
  // that failed lets the post go: the gateway answers it.
  function solving(form) {
    var widget = widgetOf(form);
    var state = widget && widget.getState ? widget.getState() : '';
    return state === 'unverified' || state === 'verifying';
  }

  function answered(form, answer) {
    answer = answer || {};
    var widget = widgetOf(form);
    if (widget && answer.status !== 'missing' && widget.reset) widget.reset();
    if (answer.status === 'sent') {
      form.reset();
      var number = answer.refnum === null || answer.refnum === undefined ? '' : String(answer.refnum);
      var reference = number ? ' ' + text(form, 'reference') + ' ' + number + '.' : '';
      show(form, 'sent', text(form, 'sent') + reference);
      var element = statusElement(form);
      element.setAttribute('data-brevix-refnum', number);
    } else if (answer.status === 'missing') {
      markMissing(form, Array.isArray(answer.missing) ? answer.missing : []);
      show(form, 'missing', text(form, 'missing'));
    } else if (answer.status === 'refused' && answer.error === 'pow') {
      show(form, 'refused', text(form, 'pow'));
    } else if (answer.status === 'refused') {
      show(form, 'refused', text(form, 'refused') + ' ' + String(answer.error || ''));
    } else if (answer.status === 'failed') {
      show(form, 'failed', text(form, 'failed') + ' ' + String(answer.error || ''));
    } else if (answer.status === 'not_configured') {
      show(form, 'error', text(form, 'not-configured'));
    } else {
      show(form, 'error', text(form, 'unreachable'));
    }
  }

  function send(event) {
    var form = event.currentTarget;
    if (!window.fetch || !window.FormData) return;  // an old browser posts the form as ever
    event.preventDefault();
    if (solving(form)) return;
    clearMarks(form);
    show(form, 'sending', text(form, 'sending'));
    var buttons = form.querySelectorAll('button, input[type=submit]');
    for (var i = 0; i < buttons.length; i++) buttons[i].disabled = true;
    var done = function () {
      for (var j = 0; j < buttons.length; j++) buttons[j].disabled = false;
    };
    // The attribute, not form.action: a field named "action" would stand in its place.
    var address = new URL(form.getAttribute('action') || '', document.baseURI).href;
    fetch(address, {
      method: 'POST',
      body: new FormData(form),
      headers: { Accept: 'application/json' },
      credentials: 'omit',
    })
      .then(function (response) {
        return response.json();
      })
      .then(function (answer) {
        answered(form, answer);
      }, function () {
        // No answer, or one the browser keeps from this page (an origin not allowed).
        show(form, 'error', text(form, 'unreachable'));
      })
      .then(done, done);
  }

  function attach() {
    var forms = document.querySelectorAll('form');
    for (var i = 0; i < forms.length; i++) {
      var form = forms[i];
      var action = form.getAttribute('action') || '';
      if (form.hasAttribute('data-brevix') || /brevix\.cgi(\?.*)?$/i.test(action)) {
        form.addEventListener('submit', send);
      }
    }
  }

  if (document.readyState === 'loading') {
    document.addEventListener('DOMContentLoaded', attach);
  } else {
    attach();
  }
})();
